#include "scan/scan_data.h"

void ScanData::segmentScanLines() {
  const std::size_t n = sweepIndex.size();
  lineStart.clear();
  lineStart.push_back(0);
  // A scan line continues only while the sweep index strictly increases;
  // an equal value starts a new one too.
  for (std::size_t i = 1; i < n; ++i) {
    if (sweepIndex[i] <= sweepIndex[i - 1])
      lineStart.push_back(static_cast<int>(i));
  }
}

void ScanData::clear() {
  forEachPointColumn([this](auto column) { (this->*column).clear(); });
  lineStart.clear();
  for (std::vector<float>* v :
       {&lineCol0, &lineSlope, &lineIntercept, &lineSigma, &pointSigma,
        &residual, &distance, &nadirCol0, &nadirLatitude, &nadirLongitude,
        &nadirElevation})
    v->clear();
}
