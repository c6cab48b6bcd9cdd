// A helper thread is kept off its starter's processor when the process may
// use another, runs its work whatever the system allows, and never changes
// where the starter itself may run.
#include "scan/thread_placement.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>
#include <thread>

namespace {

cpu_set_t allowedHere() {
  cpu_set_t set;
  CPU_ZERO(&set);
  EXPECT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  return set;
}

// Restricts the calling thread to `set` for the life of the object.
struct AffinityScope {
  cpu_set_t saved = allowedHere();
  explicit AffinityScope(const cpu_set_t& set) {
    EXPECT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
  }
  ~AffinityScope() { sched_setaffinity(0, sizeof saved, &saved); }
};

// The first `count` processors the process may use, or fewer.
cpu_set_t firstAllowed(int count) {
  const cpu_set_t all = allowedHere();
  cpu_set_t some;
  CPU_ZERO(&some);
  for (int cpu = 0; cpu < CPU_SETSIZE && CPU_COUNT(&some) < count; ++cpu)
    if (CPU_ISSET(cpu, &all)) CPU_SET(cpu, &some);
  return some;
}

// Where a helper started by the calling thread may run.
cpu_set_t helperAllowed() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::thread helper = startBesideCaller(
      [&set] { sched_getaffinity(0, sizeof set, &set); });
  helper.join();
  return set;
}

TEST(ThreadPlacement, HelperTakesAnotherProcessorThanItsStarter) {
  const cpu_set_t two = firstAllowed(2);
  if (CPU_COUNT(&two) < 2) GTEST_SKIP() << "one processor only";
  const AffinityScope scope(two);
  for (int round = 0; round < 20; ++round) {
    const cpu_set_t helper = helperAllowed();
    cpu_set_t both;
    CPU_OR(&both, &helper, &two);
    EXPECT_EQ(CPU_COUNT(&helper), 1);
    EXPECT_TRUE(CPU_EQUAL(&both, &two));
  }
}

TEST(ThreadPlacement, OnASingleProcessorTheHelperSharesIt) {
  const cpu_set_t one = firstAllowed(1);
  const AffinityScope scope(one);
  const cpu_set_t helper = helperAllowed();
  EXPECT_TRUE(CPU_EQUAL(&helper, &one));
}

TEST(ThreadPlacement, StarterKeepsWhereItMayRun) {
  const cpu_set_t before = allowedHere();
  // Work that ends at once is the case where a finished thread could be
  // mistaken for its starter.
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> ran{0};
    std::thread helper = startBesideCaller([&] { ++ran; });
    helper.join();
    EXPECT_EQ(ran.load(), 1);
    const cpu_set_t after = allowedHere();
    ASSERT_TRUE(CPU_EQUAL(&before, &after)) << "round " << round;
  }
}

}  // namespace
