#include "scan/helper_thread.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

// Longer than either side polls, so that the sleeping paths are taken.
const auto kPastPolling = 3 * HelperThread::kPollBeforeSleep;

TEST(HelperThreadTest, TasksRunInTurnAndTheirWritesAreSeenAfterWait) {
  HelperThread helper;
  std::vector<int> done;  // plain memory: wait() must order it
  for (int i = 0; i < 2000; ++i) {
    helper.start([&done, i] { done.push_back(i); });
    helper.wait();
    ASSERT_EQ(done.size(), std::size_t(i) + 1);
    ASSERT_EQ(done.back(), i);
  }
}

TEST(HelperThreadTest, WaitOutlastsATaskLongerThanThePolling) {
  HelperThread helper;
  int value = 0;
  helper.start([&value] {
    std::this_thread::sleep_for(kPastPolling);
    value = 7;
  });
  helper.wait();
  EXPECT_EQ(value, 7);
}

TEST(HelperThreadTest, AHelperIdleLongerThanThePollingTakesTheNextTask) {
  HelperThread helper;
  int value = 0;
  helper.start([&value] { value = 1; });
  helper.wait();
  std::this_thread::sleep_for(kPastPolling);  // the helper sleeps by now
  helper.start([&value] { value += 2; });
  helper.wait();
  EXPECT_EQ(value, 3);
}

TEST(HelperThreadTest, EndsWhetherNeverUsedPollingOrAsleep) {
  { HelperThread unused; }
  {
    HelperThread polling;
    polling.start([] {});
    polling.wait();
  }  // ended while it still polls for a task
  {
    HelperThread asleep;
    asleep.start([] {});
    asleep.wait();
    std::this_thread::sleep_for(kPastPolling);
  }
  SUCCEED();
}

TEST(HelperThreadTest, OnOneProcessorNeitherSidePollsAndTasksStillRun) {
  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  {
    HelperThread helper;
    int value = 0;
    for (int i = 0; i < 200; ++i) {
      helper.start([&value] { ++value; });
      helper.wait();
    }
    EXPECT_FALSE(helper.polls);
    EXPECT_EQ(value, 200);
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
}

}  // namespace
