// The first write to a fresh page of memory costs microseconds on virtual
// machines, and a run writes every page of its columns: tens of megabytes
// whose first touches would otherwise stall the reader. A PageWarmer has
// those pages faulted in by a helper thread, a little ahead of the code
// that fills them, so the cost is paid beside the parsing instead of in it.
// The helper starts off the processor of the thread that starts it: in the
// text reader that thread's half of a block ends last, so the warming fills
// the time the other half's thread would spend waiting.
//
// Only page tables change: the kernel populates a region without altering
// what it holds, so a region that has since moved or been freed is merely
// warmed in vain.
#ifndef SCANFIT_SCAN_PAGE_WARMER_H_
#define SCANFIT_SCAN_PAGE_WARMER_H_

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

struct PageWarmer {
  struct Region {
    const void* start;
    std::size_t bytes;
  };

  std::mutex mutex;
  std::condition_variable wake;
  std::vector<Region> queued;  // guarded by mutex
  bool stopping = false;       // guarded by mutex
  std::thread worker;          // started by the first warm()

  PageWarmer() = default;
  PageWarmer(const PageWarmer&) = delete;
  PageWarmer& operator=(const PageWarmer&) = delete;
  ~PageWarmer() { finish(); }

  // Queues regions to be faulted in, in order.
  void warm(const std::vector<Region>& regions);
  // Waits until every queued region is warm and ends the helper thread.
  void finish();

  void run();  // the helper thread's loop
};

#endif  // SCANFIT_SCAN_PAGE_WARMER_H_
