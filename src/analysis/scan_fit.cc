// The scan-line fit: elevation against ground distance along each scan
// line, fitted twice by least squares with a rejection step in between.
// Each line of more than 10 points (the last line aside) goes through:
//   1. the distance of every point from the line's first point;
//   2. a first fit over all points;
//   3. the threshold T: the mean of the line's negative residuals when it
//      has more than 10 of them, else the T of the latest line that set
//      one (1.0 at the start);
//   4. rejection of the points lying more than T above the first fit;
//   5. a second fit over the points that remain ("used" points);
//   6. the line's results: mid col0, slope, intercept and sigma;
//   7. every point's residual against the stored fit, and the line sigma;
// and then the line's nadir record.
//
// Every stored value has to come out identical, bit for bit, to earlier
// runs of this analysis, so the arithmetic is spelled out exactly: all
// expressions are evaluated in extended precision (long double), and a
// value is rounded to float only where it is stored or where the method
// rounds it (the "single accumulators" below are running sums rounded
// after every addition). The association order of each expression is part
// of the result and must not be rearranged. No division is guarded: NaN
// and infinity are legitimate results and are stored like any other.
#include "analysis/scan_fit.h"

#include <cmath>
#include <vector>

#include "analysis/cosine_cache.h"
#include "analysis/nadir.h"

namespace {

using Extended = long double;

// Single-precision constants, widened where they are used.
constexpr float kMetresPerDegree = 111120.0f;
constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kHalf = 0.5f;
// Lines of this many points or fewer are skipped; a line with this many
// negative first-fit residuals or fewer keeps the threshold it inherits.
constexpr int kMaxPointsOfSkippedLine = 10;
constexpr int kMaxNegativesKeepingThreshold = 10;

// One step of a single accumulator: add in extended precision, round.
inline float addRounded(float sum, Extended term) {
  return static_cast<float>(Extended(sum) + term);
}

inline float subtractRounded(float sum, Extended term) {
  return static_cast<float>(Extended(sum) - term);
}

// The columns of one scan line, from its first point on. Raw pointers keep
// the per-point loops free of bounds bookkeeping.
struct LineColumns {
  int count;
  const float* latitude;
  const float* longitude;
  const float* elevation;
  float* distance;
  float* residual;
  float* pointSigma;
};

struct SecondFit {
  Extended slope;
  Extended intercept;
};

LineColumns lineColumns(ScanData& data, int first, int count) {
  return {count,
          data.latitude.data() + first,
          data.longitude.data() + first,
          data.elevation.data() + first,
          data.distance.data() + first,
          data.residual.data() + first,
          data.pointSigma.data() + first};
}

// Ground distance of every point from the line's first point, on a flat
// earth: metres north from the latitude difference, metres east from the
// longitude difference shrunk by the cosine of the point's own latitude.
LineSums computeDistances(const LineColumns& line, CosineCache& cosines) {
  const Extended firstLatitude = line.latitude[0];
  const Extended firstLongitude = line.longitude[0];
  const Extended metresPerDegree = kMetresPerDegree;
  LineSums sums;
  for (int i = 0; i < line.count; ++i) {
    const Extended north = (firstLatitude - line.latitude[i]) * metresPerDegree;
    const float longitudeStep =
        static_cast<float>(firstLongitude - line.longitude[i]);
    const float angle =
        static_cast<float>(Extended(line.latitude[i]) * kDegreesToRadians);
    const Extended east =
        (cosines.cos(angle) * longitudeStep) * metresPerDegree;
    const float northSquared = static_cast<float>(north * north);
    line.distance[i] = static_cast<float>(std::sqrt(east * east + northSquared));
    sums.distance = addRounded(sums.distance, line.distance[i]);
    sums.elevation = addRounded(sums.elevation, line.elevation[i]);
  }
  return sums;
}

// Least squares over all points. The cross term weights the raw elevations
// rather than their deviations from the mean, which is equivalent in exact
// arithmetic but not in rounded sums.
FirstFit fitAllPoints(const LineColumns& line, const LineSums& sums) {
  const Extended mean = Extended(sums.distance) / line.count;
  float spread = 0.0f;  // Sdd
  float cross = 0.0f;   // Sdz
  for (int i = 0; i < line.count; ++i) {
    const Extended e = line.distance[i] - mean;
    spread = addRounded(spread, e * e);
    cross = addRounded(cross, e * line.elevation[i]);
  }
  FirstFit fit;
  fit.slope = static_cast<float>(Extended(cross) / spread);
  fit.intercept =
      (Extended(sums.elevation) - Extended(sums.distance) * fit.slope) /
      line.count;
  return fit;
}

// A line sets its own threshold, the mean of its negative first-fit
// residuals, only when it has enough of them; otherwise the threshold of
// the latest line that set one stays in force. Note the grouping:
// elevation - (slope*d + intercept).
bool ownThreshold(const LineColumns& line, const FirstFit& fit,
                  float& threshold) {
  Extended negativeSum = 0.0L;
  int negativeCount = 0;
  for (int i = 0; i < line.count; ++i) {
    const Extended r = line.elevation[i] -
                       (Extended(fit.slope) * line.distance[i] + fit.intercept);
    if (r < 0) {
      ++negativeCount;
      negativeSum += r;
    }
  }
  if (negativeCount <= kMaxNegativesKeepingThreshold) return false;
  threshold = static_cast<float>(negativeSum / negativeCount);
  return true;
}

// The residual that rejection and both later passes judge a point by;
// grouped differently from the threshold pass: (elevation - slope*d) - b.
inline Extended rejectionResidual(const FirstFit& fit, float distance,
                                  float elevation) {
  return (Extended(elevation) - Extended(fit.slope) * distance) - fit.intercept;
}

// A point counts as used when its residual is at most the threshold. A NaN
// residual is neither used nor rejected.
inline bool isUsed(const FirstFit& fit, float threshold, float distance,
                   float elevation) {
  return rejectionResidual(fit, distance, elevation) <= threshold;
}

// Takes the points above the threshold out of the sums, one at a time, and
// returns m, the point count less the rejected ones.
int rejectAboveThreshold(const LineColumns& line, const FirstFit& fit,
                         float threshold, LineSums& sums) {
  int rejected = 0;
  for (int i = 0; i < line.count; ++i) {
    if (rejectionResidual(fit, line.distance[i], line.elevation[i]) >
        threshold) {
      ++rejected;
      sums.distance = subtractRounded(sums.distance, line.distance[i]);
      sums.elevation = subtractRounded(sums.elevation, line.elevation[i]);
    }
  }
  return line.count - rejected;
}

// Least squares over the used points. Sdd2 is a single accumulator but
// Sdz2 an extended one; the product Sd*slope2 is rounded before it is
// taken from Sz.
SecondFit fitUsedPoints(const LineColumns& line, const FirstFit& first,
                        float threshold, const LineSums& sums, int used) {
  const Extended mean = Extended(sums.distance) / used;
  float spread = 0.0f;   // Sdd2
  Extended cross = 0.0L;  // Sdz2
  for (int i = 0; i < line.count; ++i) {
    if (!isUsed(first, threshold, line.distance[i], line.elevation[i]))
      continue;
    const Extended e = line.distance[i] - mean;
    spread = addRounded(spread, e * e);
    cross += e * line.elevation[i];
  }
  SecondFit fit;
  fit.slope = cross / spread;
  const float rise = static_cast<float>(Extended(sums.distance) * fit.slope);
  fit.intercept = (Extended(sums.elevation) - rise) / used;
  return fit;
}

// Residual standard deviation of the used points about the unrounded
// second fit, with m - 2 degrees of freedom. Two used points divide by
// zero, none by -2 (giving -0.0); both are kept as they come.
float sigmaOfUsedPoints(const LineColumns& line, const FirstFit& first,
                        float threshold, const SecondFit& second, int used) {
  float sumOfSquares = 0.0f;  // SS
  for (int i = 0; i < line.count; ++i) {
    if (!isUsed(first, threshold, line.distance[i], line.elevation[i]))
      continue;
    const Extended r = line.elevation[i] -
                       (Extended(line.distance[i]) * second.slope +
                        second.intercept);
    sumOfSquares = addRounded(sumOfSquares, r * r);
  }
  return static_cast<float>(
      std::sqrt(Extended(sumOfSquares) / Extended(used - 2)));
}

// Every point of the line, used or not, gets its residual against the
// stored (rounded) fit and the line's sigma.
void writePointResults(const LineColumns& line, float slope, float intercept,
                       float sigma) {
  for (int i = 0; i < line.count; ++i) {
    line.residual[i] = static_cast<float>(
        line.elevation[i] -
        (Extended(slope) * line.distance[i] + Extended(intercept)));
    line.pointSigma[i] = sigma;
  }
}

// The line's per-line results, appended in line order.
struct LineOutcome {
  float midCol0 = 0.0f;
  float slope = 0.0f;
  float intercept = 0.0f;
  float sigma = 0.0f;
};

// Steps 1 to 3: nothing from the lines before is needed.
void planLine(ScanData& data, LinePlan& plan, CosineCache& cosines) {
  const LineColumns line = lineColumns(data, plan.first, plan.count);
  plan.sums = computeDistances(line, cosines);
  plan.firstFit = fitAllPoints(line, plan.sums);
  plan.setsThreshold = ownThreshold(line, plan.firstFit, plan.ownThreshold);
}

// Steps 4 to 7, given the threshold in force.
LineOutcome finishLine(ScanData& data, const LinePlan& plan) {
  const LineColumns line = lineColumns(data, plan.first, plan.count);
  const FirstFit& firstFit = plan.firstFit;
  const float threshold = plan.threshold;
  LineSums sums = plan.sums;
  const int used = rejectAboveThreshold(line, firstFit, threshold, sums);
  const SecondFit secondFit =
      fitUsedPoints(line, firstFit, threshold, sums, used);

  LineOutcome outcome;
  const int last = plan.first + plan.count - 1;
  outcome.midCol0 = static_cast<float>(
      (Extended(data.col0[last]) + data.col0[plan.first]) * Extended(kHalf));
  outcome.slope = static_cast<float>(secondFit.slope);
  outcome.intercept = static_cast<float>(secondFit.intercept);
  outcome.sigma = sigmaOfUsedPoints(line, firstFit, threshold, secondFit, used);
  writePointResults(line, outcome.slope, outcome.intercept, outcome.sigma);
  return outcome;
}

}  // namespace

void planScanLines(ScanData& data, std::vector<LinePlan>& plans) {
  const std::size_t n = data.pointCount();
  for (std::vector<float>* work :
       {&data.pointSigma, &data.residual, &data.distance})
    work->assign(n, 0.0f);

  plans.clear();
  // The last entry of lineStart starts the last line, which has no end.
  const std::vector<int>& starts = data.lineStart;
  for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
    const int count = starts[k + 1] - starts[k];
    if (count <= kMaxPointsOfSkippedLine) continue;
    LinePlan plan;
    plan.first = starts[k];
    plan.count = count;
    plans.push_back(plan);
  }
  // One cache per thread, kept from batch to batch: filling a fresh one
  // would cost more than a small batch's fit. It only ever holds true
  // cosines, so what it returns is the same whichever thread asks.
  thread_local CosineCache cosines;
  for (LinePlan& plan : plans) planLine(data, plan, cosines);
}

void carryThreshold(std::vector<LinePlan>& plans, float& threshold) {
  for (LinePlan& plan : plans) {
    if (plan.setsThreshold) threshold = plan.ownThreshold;
    plan.threshold = threshold;
  }
}

std::int64_t finishScanLines(ScanData& data,
                             const std::vector<LinePlan>& plans) {
  std::int64_t measured = 0;
  for (const LinePlan& plan : plans) {
    const LineOutcome outcome = finishLine(data, plan);
    data.lineCol0.push_back(outcome.midCol0);
    data.lineSlope.push_back(outcome.slope);
    data.lineIntercept.push_back(outcome.intercept);
    data.lineSigma.push_back(outcome.sigma);
    NadirRecord nadir;
    if (findNadirRecord(data, plan.first, plan.first + plan.count - 1,
                        outcome.slope, outcome.intercept, nadir)) {
      appendNadirRecord(data, nadir);
      measured += nadir.measured;
    }
  }
  return measured;
}
