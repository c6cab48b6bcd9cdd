// The first write to a fresh page of memory costs microseconds on virtual
// machines, and a run writes every page of its columns: tens of megabytes
// whose first touches would otherwise stall the reader. A PageWarmer has
// those pages faulted in by a helper thread, a little ahead of the code
// that fills them, so the cost is paid beside the parsing instead of in it.
// The helper starts off the processor of the thread that starts it.
//
// The helper runs at the lowest priority and warms a few pages at a time,
// yielding between them: it takes only processor time nobody else wants,
// such as the gaps a polling reader thread yields, and never holds up the
// threads that do the run's work. Pages it has not reached when the caller
// finishes are left to fault in where they are first written; the work is
// the same, only not done ahead.
//
// Only page tables change: the kernel populates a region without altering
// what it holds, so a region that has since moved or been freed is merely
// warmed in vain.
#ifndef SCANFIT_SCAN_PAGE_WARMER_H_
#define SCANFIT_SCAN_PAGE_WARMER_H_

#include <atomic>
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

  // Bytes faulted in between two yields.
  static constexpr std::size_t kStepBytes = std::size_t(64) << 10;

  std::mutex mutex;
  std::condition_variable wake;
  std::vector<Region> queued;        // guarded by mutex
  std::atomic<bool> stopping{false}; // written under mutex
  std::thread worker;                // started by the first warm()

  PageWarmer() = default;
  PageWarmer(const PageWarmer&) = delete;
  PageWarmer& operator=(const PageWarmer&) = delete;
  ~PageWarmer() { finish(); }

  // Queues regions to be faulted in, in order.
  void warm(const std::vector<Region>& regions);
  // Drops what is not warm yet and ends the helper thread, after the few
  // pages it is warming now.
  void finish();

  void run();  // the helper thread's loop
};

#endif  // SCANFIT_SCAN_PAGE_WARMER_H_
