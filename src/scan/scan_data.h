// ScanData is the one in-memory store of a run. It holds the points of one
// input file as parallel columns (point i is the i-th accepted point, in
// input order), the index of scan lines, the per-line fit results, the nadir
// records and the per-point work columns that the fit writes.
//
// The readers fill it, fitScanLines completes it, and the writers read its
// members directly. Calling order: construct; optionally set sevenColumns;
// openAscii + readAscii or openBinary + readBinary; fitScanLines; write.
#ifndef SCANFIT_SCAN_SCAN_DATA_H_
#define SCANFIT_SCAN_SCAN_DATA_H_

#include <QFile>
#include <QString>

#include "scan/page_warmer.h"

#include <iosfwd>
#include <vector>

struct ScanData {
  // Input columns, one element per point.
  std::vector<float> col0;       // first value (a time, in decimal hours)
  std::vector<float> latitude;   // degrees
  std::vector<float> longitude;  // degrees
  std::vector<float> elevation;  // the quantity fitted against distance
  std::vector<short> col4;       // carried to the point outputs only
  std::vector<short> sweepIndex; // position in the sweep; 125 is nadir
  std::vector<short> col6;       // seven-column text input only

  // Index of the first point of every scan line, strictly ascending, first
  // entry 0. There is no closing entry: the last scan line runs to the end.
  std::vector<int> lineStart;

  // One entry each per fitted scan line, in line order.
  std::vector<float> lineCol0;
  std::vector<float> lineSlope;
  std::vector<float> lineIntercept;
  std::vector<float> lineSigma;

  // Per-point work columns: N zeros after a read, overwritten by the fit for
  // the points of fitted lines.
  std::vector<float> pointSigma;
  std::vector<float> residual;
  std::vector<float> distance;

  // One entry each per nadir record, at most one per fitted line.
  std::vector<float> nadirCol0;
  std::vector<float> nadirLatitude;
  std::vector<float> nadirLongitude;
  std::vector<float> nadirElevation;

  // The input, open from openAscii/openBinary until destruction.
  QFile file;

  int lineCount = 0;     // text lines of the input (ASCII only)
  int badLineCount = 0;  // text lines rejected (ASCII only)
  bool sevenColumns = false;

  ScanData() = default;
  ScanData(const ScanData&) = delete;
  ScanData& operator=(const ScanData&) = delete;

  // Open the input for reading. On failure they write "Cannot read from: "
  // with the name and the error text to standard error and end the process
  // with status -1. Return 0.
  int openAscii(const QString& name);
  int openBinary(const QString& name);

  // Read every point of the opened input into the columns, then cut the scan
  // lines. Rejected text lines are reported on `messages`. Return the number
  // of points stored (lineCount - badLineCount for text, 0 for binary).
  // Points are indexed by int: readAscii refuses a text input of more than
  // INT_MAX lines and returns -1, with no scan lines cut and no message of
  // its own (the caller reports it).
  int readAscii(std::ostream& messages);
  int readBinary();

  // Fit every scan line of more than 10 points except the last one, write
  // each fitted point's distance, residual and sigma, append the per-line
  // results and the nadir records.
  void fitScanLines();

  // Shared end of both readers: build lineStart from the sweep indices
  // (a new line wherever the index does not increase) and size the three
  // work columns to the point count, all zeros.
  void segmentScanLines();

  // Capacity hint for `points` points, from the input's size, for the input
  // and the work columns alike; the columns still grow past it.
  void reservePoints(size_t points);

  // Have the pages that the first `points` points of every column will
  // occupy faulted in on a helper thread (see PageWarmer); within the
  // reserved capacity only. segmentScanLines waits for it.
  void warmColumns(size_t points);
  PageWarmer warmer;
  size_t warmedPoints = 0;

  size_t pointCount() const { return col0.size(); }
};

#endif  // SCANFIT_SCAN_SCAN_DATA_H_
