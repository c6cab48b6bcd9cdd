// Where a helper thread runs. Some schedulers, seen on virtual machines
// that pack work onto few processors, leave a new thread queued on the
// processor of the thread that started it for milliseconds, however idle
// the others are: a phase of a few milliseconds split over two threads then
// runs on one after all, and small inputs lose most of their second core.
#ifndef SCANFIT_SCAN_THREAD_PLACEMENT_H_
#define SCANFIT_SCAN_THREAD_PLACEMENT_H_

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

// How many processors the calling thread may run on (1 where the system
// does not say).
int usableProcessors();

// Lets `thread`, started by the calling thread and not finished, run on any
// processor the process may use except the one the caller is on now, when
// there is another. A hint: where the system declines, nothing changes.
void placeBesideCaller(std::thread& thread);

// Starts `work` on a new thread placed beside the calling one. The thread
// waits until it is placed: a thread that has finished can no longer be
// named to the system, and the name of the caller would be used instead.
template <typename Work>
std::thread startBesideCaller(Work work) {
  const auto placed = std::make_shared<std::atomic<bool>>(false);
  std::thread thread([placed, work = std::move(work)]() mutable {
    while (!placed->load(std::memory_order_acquire)) std::this_thread::yield();
    work();
  });
  placeBesideCaller(thread);
  placed->store(true, std::memory_order_release);
  return thread;
}

#endif  // SCANFIT_SCAN_THREAD_PLACEMENT_H_
