// The first touch of a fresh memory page is costly on virtual machines
// (some microseconds a page), and a run touches every page of its columns.
// Transparent huge pages cut the number of first touches 512-fold; the
// kernel is asked for them on the large regions that the run fills.
#ifndef SCANFIT_SCAN_HUGE_PAGES_H_
#define SCANFIT_SCAN_HUGE_PAGES_H_

#include <cstddef>
#include <vector>

// Advice only: nothing changes where the kernel declines.
void adviseHugePages(const void* start, std::size_t bytes);

template <typename T>
void adviseHugePages(const std::vector<T>& column) {
  adviseHugePages(column.data(), column.capacity() * sizeof(T));
}

#endif  // SCANFIT_SCAN_HUGE_PAGES_H_
