#include "scan/huge_pages.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

void adviseHugePages(const void* start, std::size_t bytes) {
#ifdef __linux__
  // Only whole huge pages inside the region can be backed by one.
  constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(start);
  const std::uintptr_t from = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t to = (begin + bytes) & ~(kHugePage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)start;
  (void)bytes;
#endif
}
