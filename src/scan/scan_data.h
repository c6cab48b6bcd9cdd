// ScanData holds points as parallel columns (point i is the i-th accepted
// point, in input order), the index of scan lines, the per-line fit
// results, the nadir records and the per-point work columns that the fit
// writes.
//
// A run streams its input through a few of these, one per batch of whole
// scan lines, and reuses them: clear() keeps every column's capacity. The
// readers fill the columns, the scan lines are cut, the three stages of
// the fit (analysis/scan_fit.h) complete the store, and the writers read
// its members directly.
#ifndef SCANFIT_SCAN_SCAN_DATA_H_
#define SCANFIT_SCAN_SCAN_DATA_H_

#include <cstddef>
#include <vector>

struct ScanData {
  // Input columns, one element per point.
  std::vector<float> col0;       // first value (a time, in decimal hours)
  std::vector<float> latitude;   // degrees
  std::vector<float> longitude;  // degrees
  std::vector<float> elevation;  // the quantity fitted against distance
  std::vector<short> col4;       // carried to the point outputs only
  std::vector<short> sweepIndex; // position in the sweep; 125 is nadir
  std::vector<short> col6;       // seven-column text input only, else empty

  // Index of the first point of every scan line, strictly ascending, first
  // entry 0. There is no closing entry: the last scan line runs to the end
  // of the columns and is never fitted. (A batch whose last line goes on
  // in the next batch closes its lines with an entry equal to the point
  // count: its "last line" is then empty.)
  std::vector<int> lineStart;

  // One entry each per fitted scan line, in line order.
  std::vector<float> lineCol0;
  std::vector<float> lineSlope;
  std::vector<float> lineIntercept;
  std::vector<float> lineSigma;

  // Per-point work columns: N zeros before the fit, overwritten by it for
  // the points of fitted lines.
  std::vector<float> pointSigma;
  std::vector<float> residual;
  std::vector<float> distance;

  // One entry each per nadir record, at most one per fitted line.
  std::vector<float> nadirCol0;
  std::vector<float> nadirLatitude;
  std::vector<float> nadirLongitude;
  std::vector<float> nadirElevation;

  // The text form: true for seven-column input, whose points carry col6.
  bool sevenColumns = false;

  std::size_t pointCount() const { return col0.size(); }

  // Build lineStart from the sweep indices: a new line wherever the index
  // does not increase.
  void segmentScanLines();

  // Every vector emptied, its capacity kept.
  void clear();
};

// Calls visit(member) with a pointer to each of the seven input columns,
// col0 to col6, so that code moving points names the columns only here:
//   forEachPointColumn([&](auto column) { (data.*column).clear(); });
template <typename Visit>
void forEachPointColumn(Visit visit) {
  visit(&ScanData::col0);
  visit(&ScanData::latitude);
  visit(&ScanData::longitude);
  visit(&ScanData::elevation);
  visit(&ScanData::col4);
  visit(&ScanData::sweepIndex);
  visit(&ScanData::col6);
}

#endif  // SCANFIT_SCAN_SCAN_DATA_H_
