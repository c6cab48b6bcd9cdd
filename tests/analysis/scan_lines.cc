#include "analysis/scan_lines.h"

#include "plain_fit.h"

#include <cstring>

void appendPoint(ScanData& data, const TestPoint& point) {
  data.col0.push_back(point.col0);
  data.latitude.push_back(point.latitude);
  data.longitude.push_back(point.longitude);
  data.elevation.push_back(point.elevation);
  data.col4.push_back(0);
  data.sweepIndex.push_back(point.sweepIndex);
}

void appendEquatorLine(ScanData& data, const std::vector<float>& elevations,
                       short firstSweep) {
  for (size_t k = 0; k < elevations.size(); ++k) {
    const float col0 = static_cast<float>(data.col0.size()) / 1024.0f;
    appendPoint(data, {col0, 0.0f, static_cast<float>(k) / 16.0f,
                       elevations[k], static_cast<short>(firstSweep + k)});
  }
}

void appendFlatEquatorLine(ScanData& data, int count, float elevation) {
  appendEquatorLine(data, std::vector<float>(count, elevation));
}

void closeAndFit(ScanData& data) {
  // Sweep 0 never follows a higher one within a line, so this always
  // starts a line of its own.
  for (short sweep = 0; sweep < 3; ++sweep)
    appendPoint(data, {99.0f, 1.0f, 1.0f, 1000.0f, sweep});
  data.segmentScanLines();
  fitScanLines(data);
}

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}
