// Builds scan data in memory for the analysis tests, so each test states
// its lines as elevations and sweep indices and leaves the rest here.
#ifndef SCANFIT_TESTS_ANALYSIS_SCAN_LINES_H_
#define SCANFIT_TESTS_ANALYSIS_SCAN_LINES_H_

#include <cstdint>
#include <vector>

#include "scan/scan_data.h"

struct TestPoint {
  float col0;
  float latitude;
  float longitude;
  float elevation;
  short sweepIndex;
};

void appendPoint(ScanData& data, const TestPoint& point);

// Metres between neighbouring points of an equator line: they lie 1/16
// degree of longitude apart, so point k is exactly k * 6945 m from the
// first one (cos 0 = 1, 111120 / 16 = 6945), which makes sums by hand easy.
constexpr float kEquatorStep = 6945.0f;

// A line along the equator, one point per elevation, sweep indices rising
// by one from `firstSweep`. col0 counts the points of the whole data set
// in steps of 1/1024, so it is exact and tells lines apart.
void appendEquatorLine(ScanData& data, const std::vector<float>& elevations,
                       short firstSweep = 100);
void appendFlatEquatorLine(ScanData& data, int count, float elevation = 10.0f);

// Ends the data with a short line (the last one is never fitted), cuts the
// lines and fits them.
void closeAndFit(ScanData& data);

// The bit pattern of a float: NaNs and signed zeros compare as stored.
uint32_t bitsOf(float value);

#endif  // SCANFIT_TESTS_ANALYSIS_SCAN_LINES_H_
