#include "scan/point_bounds.h"

#include <vector>

namespace {

template <typename T>
void addColumn(ValueRange& range, const std::vector<T>& column) {
  for (const T value : column) range.add(float(value));
}

}  // namespace

void PointBounds::add(const ScanData& points) {
  addColumn(col0, points.col0);
  addColumn(latitude, points.latitude);
  addColumn(longitude, points.longitude);
  addColumn(elevation, points.elevation);
  addColumn(sweepIndex, points.sweepIndex);
}

void PointBounds::add(const PointBounds& o) {
  col0.add(o.col0);
  latitude.add(o.latitude);
  longitude.add(o.longitude);
  elevation.add(o.elevation);
  sweepIndex.add(o.sweepIndex);
}
