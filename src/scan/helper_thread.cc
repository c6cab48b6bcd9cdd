#include "scan/helper_thread.h"

#include <utility>

#include "scan/thread_placement.h"

HelperThread::~HelperThread() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  if (thread.joinable()) thread.join();
}

void HelperThread::start(std::function<void()> work) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    task = std::move(work);
  }
  if (!thread.joinable()) thread = startBesideCaller([this] { run(); });
  changed.notify_all();
}

void HelperThread::wait() {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait(lock, [this] { return !task; });
}

void HelperThread::run() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    changed.wait(lock, [this] { return stopping || task; });
    if (!task) return;  // stopping, and nothing left to do
    lock.unlock();
    task();
    lock.lock();
    task = nullptr;
    changed.notify_all();
  }
}
