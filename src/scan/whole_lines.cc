#include "scan/whole_lines.h"

#include <cstddef>

void keepWholeLines(ScanData& batch, ScanData& heldBack, bool endsInput) {
  if (heldBack.pointCount() > 0) {
    // A held-back line has at most as many points as a sweep has steps,
    // so this moves little next to the batch it goes into.
    forEachPointColumn([&](auto column) {
      auto& into = batch.*column;
      auto& from = heldBack.*column;
      into.insert(into.begin(), from.begin(), from.end());
      from.clear();
    });
  }
  batch.segmentScanLines();
  if (endsInput) return;

  // lineStart keeps its last entry, which now equals the point count: it
  // closes the line before, and the batch's own last line is empty.
  const std::size_t last = static_cast<std::size_t>(batch.lineStart.back());
  forEachPointColumn([&](auto column) {
    auto& from = batch.*column;
    if (from.size() <= last) return;  // col6 in the six-column form
    (heldBack.*column).assign(from.begin() + static_cast<std::ptrdiff_t>(last),
                              from.end());
    from.resize(last);
  });
}
