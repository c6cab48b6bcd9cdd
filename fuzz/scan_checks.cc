#include "scan_checks.h"

#include <algorithm>
#include <cstddef>

#include "fuzz_input.h"

namespace {

constexpr int kMostPointsOfSkippedLine = 10;

bool isZero(float value) { return value == 0.0f; }

// Points of line k: [lineStart[k], end).
std::size_t lineEnd(const ScanData& data, std::size_t k) {
  return k + 1 < data.lineStart.size()
             ? static_cast<std::size_t>(data.lineStart[k + 1])
             : data.pointCount();
}

bool isFittedLine(const ScanData& data, std::size_t k) {
  return k + 1 < data.lineStart.size() &&
         lineEnd(data, k) - static_cast<std::size_t>(data.lineStart[k]) >
             kMostPointsOfSkippedLine;
}

}  // namespace

void requireReadStore(const ScanData& data) {
  const std::size_t n = data.pointCount();
  for (std::size_t size :
       {data.latitude.size(), data.longitude.size(), data.elevation.size(),
        data.col4.size(), data.sweepIndex.size()})
    require(size == n);
  require(data.col6.size() == (data.sevenColumns ? n : 0));

  const std::vector<int>& starts = data.lineStart;
  require(!starts.empty() && starts.front() == 0);
  require(std::adjacent_find(starts.begin(), starts.end(),
                             [](int a, int b) { return a >= b; }) ==
          starts.end());
  require(n == 0 ? starts.size() == 1
                 : static_cast<std::size_t>(starts.back()) < n);
}

void requireFittedStore(const ScanData& data) {
  const std::size_t n = data.pointCount();
  for (std::size_t size :
       {data.pointSigma.size(), data.residual.size(), data.distance.size()})
    require(size == n);
  std::size_t fitted = 0;
  for (std::size_t k = 0; k < data.lineStart.size(); ++k) {
    if (isFittedLine(data, k)) {
      ++fitted;
      continue;
    }
    for (std::size_t i = static_cast<std::size_t>(data.lineStart[k]);
         i < lineEnd(data, k); ++i)
      require(isZero(data.pointSigma[i]) && isZero(data.residual[i]) &&
              isZero(data.distance[i]));
  }
  for (std::size_t size : {data.lineCol0.size(), data.lineSlope.size(),
                           data.lineIntercept.size(), data.lineSigma.size()})
    require(size == fitted);

  const std::size_t nadirs = data.nadirCol0.size();
  for (std::size_t size : {data.nadirLatitude.size(),
                           data.nadirLongitude.size(),
                           data.nadirElevation.size()})
    require(size == nadirs);
  require(nadirs <= fitted);
}

std::size_t rowCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}
