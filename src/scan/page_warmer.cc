#include "scan/page_warmer.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "scan/thread_placement.h"

namespace {

// Populates the whole pages inside a region for writing. Advice only: on
// kernels without MADV_POPULATE_WRITE the pages fault in when first used.
void populate(const PageWarmer::Region& region) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  constexpr std::uintptr_t kPage = 4096;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(region.start);
  const std::uintptr_t from = (start + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t to = (start + region.bytes) & ~(kPage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)region;
#endif
}

}  // namespace

void PageWarmer::warm(const std::vector<Region>& regions) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return;
    queued.insert(queued.end(), regions.begin(), regions.end());
  }
  if (!worker.joinable()) worker = startBesideCaller([this] { run(); });
  wake.notify_one();
}

void PageWarmer::finish() {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_one();
  if (worker.joinable()) worker.join();
}

void PageWarmer::run() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || !queued.empty(); });
    if (queued.empty()) return;  // stopping, and nothing left to do
    std::vector<Region> batch;
    batch.swap(queued);
    lock.unlock();
    for (const Region& region : batch) populate(region);
    lock.lock();
  }
}
