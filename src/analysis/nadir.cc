#include "analysis/nadir.h"

#include <vector>

namespace {

using Extended = long double;

// The largest byte-sized sweep index doubles as "no upper neighbour", so a
// point at 255 (or beyond) can never be one.
constexpr short kNoUpperSweep = 255;

struct NadirNeighbours {
  int lowerIndex = -1;
  short lowerSweep = 0;
  int upperIndex = -1;
  short upperSweep = kNoUpperSweep;
};

// One pass over the line. The lower neighbour is the last candidate at or
// below the nadir (the sweep index rises along a line, so that is the
// closest one); the upper neighbour is the candidate with the smallest
// sweep index above 124, the first one on ties. A point at the nadir
// itself satisfies both tests.
NadirNeighbours findNeighbours(const ScanData& data, int first, int last) {
  NadirNeighbours found;
  for (int j = first; j <= last; ++j) {
    // Written as "not below" so that a NaN sigma never makes a candidate.
    if (!(data.pointSigma[j] < kNadirSigmaLimit)) continue;
    const short sweep = data.sweepIndex[j];
    if (sweep <= kNadirSweepIndex) {
      found.lowerIndex = j;
      found.lowerSweep = sweep;
    }
    if (sweep > kNadirSweepIndex - 1 && sweep < found.upperSweep) {
      found.upperSweep = sweep;
      found.upperIndex = j;
    }
  }
  return found;
}

// A record between the lower point L and the upper point U at sweep index
// 125. The lower point's weight is its partner's distance from the nadir in
// sweep steps and vice versa; each value is divided by the sweep gap D
// before it is weighted, in extended precision, and rounded once at the
// end. The elevation is the line's fitted one at the interpolated distance,
// from the stored (single precision) slope and intercept.
NadirRecord interpolated(const ScanData& data, const NadirNeighbours& found,
                         float slope, float intercept) {
  const int lower = found.lowerIndex;
  const int upper = found.upperIndex;
  const int gap = found.upperSweep - found.lowerSweep;
  const int lowerWeight = found.upperSweep - kNadirSweepIndex;
  const int upperWeight = kNadirSweepIndex - found.lowerSweep;

  auto between = [&](const std::vector<float>& column) {
    return static_cast<float>(
        lowerWeight * (Extended(column[lower]) / gap) +
        (Extended(column[upper]) / gap) * upperWeight);
  };

  const std::vector<float>& distance = data.distance;
  const float nadirDistance = static_cast<float>(
      distance[lower] +
      upperWeight * ((Extended(distance[upper]) - distance[lower]) / gap));
  const float rise = static_cast<float>(Extended(nadirDistance) * slope);
  const float elevation = static_cast<float>(Extended(rise) + intercept);

  return {between(data.col0), between(data.latitude), between(data.longitude),
          elevation, false};
}

}  // namespace

bool findNadirRecord(const ScanData& data, int first, int last, float slope,
                     float intercept, NadirRecord& record) {
  const NadirNeighbours found = findNeighbours(data, first, last);
  if (found.lowerSweep == kNadirSweepIndex) {
    // The measured point itself, fitted values play no part.
    const int nadir = found.lowerIndex;
    record = {data.col0[nadir], data.latitude[nadir], data.longitude[nadir],
              data.elevation[nadir], true};
    return true;
  }
  // Sweep index 0 and below never bound the nadir from beneath.
  if (found.lowerSweep > 0 && found.upperSweep < kNoUpperSweep) {
    record = interpolated(data, found, slope, intercept);
    return true;
  }
  return false;
}

void appendNadirRecord(ScanData& data, const NadirRecord& record) {
  data.nadirCol0.push_back(record.col0);
  data.nadirLatitude.push_back(record.latitude);
  data.nadirLongitude.push_back(record.longitude);
  data.nadirElevation.push_back(record.elevation);
}
