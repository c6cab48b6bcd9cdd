// The smallest and largest value of the point columns a run report gives:
// the four real ones and the sweep index. NaN is no value: a column of NaNs
// has none.
#ifndef SCANFIT_SCAN_POINT_BOUNDS_H_
#define SCANFIT_SCAN_POINT_BOUNDS_H_

#include <limits>

#include "scan/scan_data.h"

struct ValueRange {
  float min = std::numeric_limits<float>::infinity();
  float max = -std::numeric_limits<float>::infinity();

  // Comparisons with NaN are false: a NaN changes nothing.
  void add(float value) {
    if (value < min) min = value;
    if (value > max) max = value;
  }
  void add(const ValueRange& o) {
    if (o.empty()) return;
    add(o.min);
    add(o.max);
  }
  bool empty() const { return min > max; }
};

struct PointBounds {
  ValueRange col0, latitude, longitude, elevation, sweepIndex;

  void add(const ScanData& points);
  void add(const PointBounds& o);
};

#endif  // SCANFIT_SCAN_POINT_BOUNDS_H_
