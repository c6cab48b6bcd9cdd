// The scan-line fit in three stages, so that a run can fit many lines at
// once. Only the rejection threshold T ties a line to the ones before it,
// and the T a line works with depends on nothing but the first fits of the
// lines up to it:
//   1. planScanLines: every line's distances, first fit and own threshold
//      candidate; lines do not depend on each other;
//   2. carryThreshold: T carried from line to line, in input order, across
//      batches: the one serial step;
//   3. finishScanLines: rejection, second fit, sigma, residuals and nadir
//      record of every line, given its T; lines do not depend on each other.
// Every value is what fitting the lines one after the other gives.
#ifndef SCANFIT_ANALYSIS_SCAN_FIT_H_
#define SCANFIT_ANALYSIS_SCAN_FIT_H_

#include <cstdint>
#include <vector>

#include "scan/scan_data.h"

// T before any line has set it.
constexpr float kInitialThreshold = 1.0f;

// Sd and Sz: a line's summed distance and elevation. Rejection takes the
// rejected points back out of them.
struct LineSums {
  float distance = 0.0f;
  float elevation = 0.0f;
};

struct FirstFit {
  float slope = 0.0f;            // rounded
  long double intercept = 0.0L;  // never rounded
};

// One fitted line between the stages.
struct LinePlan {
  int first = 0;  // its first point
  int count = 0;  // its points
  LineSums sums;
  FirstFit firstFit;
  bool setsThreshold = false;  // more than 10 negative first-fit residuals
  float ownThreshold = 0.0f;   // their mean, when it sets one
  float threshold = 0.0f;      // the T in force for this line
};

// Zeroes the work columns of `data` and plans every line that has an end
// in lineStart and more than 10 points, writing their points' distances.
void planScanLines(ScanData& data, std::vector<LinePlan>& plans);

// Gives every plan, in order, the T in force for it, starting from and
// updating `threshold`.
void carryThreshold(std::vector<LinePlan>& plans, float& threshold);

// Appends every planned line's results and nadir record to `data` and
// writes its points' residuals and sigma. Returns how many of the nadir
// records are measured points rather than interpolated ones.
std::int64_t finishScanLines(ScanData& data, const std::vector<LinePlan>& plans);

#endif  // SCANFIT_ANALYSIS_SCAN_FIT_H_
