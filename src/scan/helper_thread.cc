#include "scan/helper_thread.h"

#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "scan/thread_placement.h"

namespace {

// Tells the processor this is a polling loop: on x86 it saves power and
// lets a sibling hardware thread run.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

// Polls `ready` for up to HelperThread::kPollBeforeSleep; returns its last
// answer.
template <typename Ready>
bool pollFor(Ready ready) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = Clock::now() + HelperThread::kPollBeforeSleep;
  for (unsigned round = 1;; ++round) {
    if (ready()) return true;
    relax();
    // The clock is read only now and then: it costs more than a poll.
    if (round % 64 == 0 && Clock::now() >= until) return ready();
  }
}

}  // namespace

HelperThread::~HelperThread() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    stopping.store(true, std::memory_order_release);
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

void HelperThread::start(std::function<void()> work) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    task = std::move(work);
    busy.store(true, std::memory_order_release);
  }
  if (!thread.joinable()) thread = startBesideCaller([this] { run(); });
  changed.notify_all();
}

void HelperThread::wait() {
  // The release that cleared `busy` follows the task's last write.
  if (pollFor([this] { return !busy.load(std::memory_order_acquire); })) return;
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return !task; });
}

void HelperThread::run() {
  for (;;) {
    pollFor([this] {
      return busy.load(std::memory_order_acquire) ||
             stopping.load(std::memory_order_acquire);
    });
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return stopping.load() || task; });
    if (!task) return;  // stopping, and nothing left to do
    lock.unlock();
    task();
    lock.lock();
    task = nullptr;
    busy.store(false, std::memory_order_release);
    lock.unlock();
    changed.notify_all();
  }
}
