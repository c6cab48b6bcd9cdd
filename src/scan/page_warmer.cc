#include "scan/page_warmer.h"

#include <algorithm>
#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#include <sys/resource.h>
#endif

#include "scan/thread_placement.h"

namespace {

constexpr std::uintptr_t kPage = 4096;

// Populates the whole pages inside [from, to) for writing. Advice only: on
// kernels without MADV_POPULATE_WRITE the pages fault in when first used.
void populate(std::uintptr_t from, std::uintptr_t to) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)from;
  (void)to;
#endif
}

// Lowest priority for the calling thread. On Linux a thread's nice value
// is its own; raising it needs no privilege.
void lowerOwnPriority() {
#ifdef __linux__
  setpriority(PRIO_PROCESS, 0, 19);
#endif
}

}  // namespace

void PageWarmer::warm(const std::vector<Region>& regions) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (stopping.load()) return;
    queued.insert(queued.end(), regions.begin(), regions.end());
  }
  if (!worker.joinable()) worker = startBesideCaller([this] { run(); });
  wake.notify_one();
}

void PageWarmer::finish() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    stopping.store(true);
    queued.clear();
  }
  wake.notify_one();
  if (worker.joinable()) worker.join();
}

void PageWarmer::run() {
  lowerOwnPriority();
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping.load() || !queued.empty(); });
    if (stopping.load()) return;
    std::vector<Region> batch;
    batch.swap(queued);
    lock.unlock();
    for (const Region& region : batch) {
      // madvise takes whole pages: partial pages at the ends are left to
      // fault in where they are written.
      const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(region.start);
      const std::uintptr_t end = (start + region.bytes) & ~(kPage - 1);
      for (std::uintptr_t from = (start + kPage - 1) & ~(kPage - 1); from < end;
           from += kStepBytes) {
        if (stopping.load(std::memory_order_relaxed)) break;
        populate(from, std::min<std::uintptr_t>(end, from + kStepBytes));
        std::this_thread::yield();
      }
    }
    lock.lock();
  }
}
