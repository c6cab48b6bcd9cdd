#include "scan/scan_data.h"

#include <algorithm>

#include "scan/huge_pages.h"

void ScanData::reservePoints(size_t points) {
  // Reserved but untouched pages cost no resident memory, so a generous
  // hint is cheap while an undersized one means copying every column.
  for (std::vector<float>* column : {&col0, &latitude, &longitude, &elevation}) {
    column->reserve(points);
    adviseHugePages(*column);
  }
  for (std::vector<short>* column : {&col4, &sweepIndex, &col6}) {
    column->reserve(points);
    adviseHugePages(*column);
  }
  lineStart.reserve(std::max<size_t>(points / 100, 1024));
}

void ScanData::segmentScanLines() {
  const size_t n = sweepIndex.size();
  lineStart.push_back(0);
  // A scan line continues only while the sweep index strictly increases;
  // an equal value starts a new one too.
  for (size_t i = 1; i < n; ++i) {
    if (sweepIndex[i] <= sweepIndex[i - 1])
      lineStart.push_back(static_cast<int>(i));
  }
  for (std::vector<float>* column : {&pointSigma, &residual, &distance}) {
    column->reserve(n);
    adviseHugePages(*column);
    column->assign(n, 0.0f);
  }
}
