#include "scan/helper_thread.h"

#include <utility>

#include "scan/thread_placement.h"

namespace {

// Polls `ready` for up to HelperThread::kPollBeforeSleep, or only once
// unless `polls`; returns its last answer. Between polls the thread
// yields: where other threads wait for this processor (a second run beside
// this one, say), they get it at once, and the polling takes nothing from
// them.
template <typename Ready>
bool pollFor(bool polls, Ready ready) {
  if (!polls) return ready();
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = Clock::now() + HelperThread::kPollBeforeSleep;
  while (!ready()) {
    if (Clock::now() >= until) return ready();
    std::this_thread::yield();
  }
  return true;
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
  if (!thread.joinable()) {
    polls = usableProcessors() > 1;
    thread = startBesideCaller([this] { run(); });
  }
  changed.notify_all();
}

void HelperThread::wait() {
  // The release that cleared `busy` follows the task's last write.
  if (pollFor(polls, [this] { return !busy.load(std::memory_order_acquire); })) return;
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return !busy.load(); });
}

void HelperThread::run() {
  for (;;) {
    pollFor(polls, [this] {
      return busy.load(std::memory_order_acquire) ||
             stopping.load(std::memory_order_acquire);
    });
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return stopping.load() || busy.load(); });
    if (!busy.load()) return;  // stopping, and nothing left to do
    lock.unlock();
    task();
    lock.lock();
    task = nullptr;
    busy.store(false, std::memory_order_release);
    lock.unlock();
    changed.notify_all();
  }
}
