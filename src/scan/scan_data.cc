#include "scan/scan_data.h"

#include <algorithm>
#include <thread>

#include "scan/thread_placement.h"

void ScanData::reservePoints(size_t points) {
  // Reserved but untouched pages cost no resident memory, so a generous
  // hint is cheap while an undersized one means copying every column.
  for (std::vector<float>* column :
       {&col0, &latitude, &longitude, &elevation, &pointSigma, &residual, &distance})
    column->reserve(points);
  for (std::vector<short>* column : {&col4, &sweepIndex, &col6})
    column->reserve(points);
  lineStart.reserve(std::max<size_t>(points / 100, 1024));
}

namespace {

template <typename T>
void addRegion(std::vector<PageWarmer::Region>& regions,
               const std::vector<T>& column, size_t from, size_t to) {
  to = std::min(to, column.capacity());
  if (to > from)
    regions.push_back({column.data() + from, (to - from) * sizeof(T)});
}

}  // namespace

void ScanData::warmColumns(size_t points) {
  if (points <= warmedPoints) return;
  std::vector<PageWarmer::Region> regions;
  for (const std::vector<float>* column :
       {&col0, &latitude, &longitude, &elevation, &pointSigma, &residual, &distance})
    addRegion(regions, *column, warmedPoints, points);
  addRegion(regions, col4, warmedPoints, points);
  addRegion(regions, sweepIndex, warmedPoints, points);
  // The seventh column fills only in the seven-column form.
  if (!col6.empty()) addRegion(regions, col6, warmedPoints, points);
  warmedPoints = points;
  warmer.warm(regions);
}

void ScanData::segmentScanLines() {
  warmer.finish();
  const size_t n = sweepIndex.size();
  lineStart.push_back(0);
  // A scan line continues only while the sweep index strictly increases;
  // an equal value starts a new one too.
  for (size_t i = 1; i < n; ++i) {
    if (sweepIndex[i] <= sweepIndex[i - 1])
      lineStart.push_back(static_cast<int>(i));
  }
  // Zeroing the work columns writes every page of them: two are zeroed on
  // a helper thread while this one zeroes the third.
  const auto zero = [n](std::vector<float>& column) { column.assign(n, 0.0f); };
  std::thread helper = startBesideCaller([&] {
    zero(pointSigma);
    zero(residual);
  });
  zero(distance);
  helper.join();
}
