// The nadir record of one fitted scan line: the point straight below the
// scanner (sweep index 125), or a record interpolated to that sweep index
// from its nearest neighbours. Kept apart from the line fit because it only
// reads the fit's results, and so it can be exercised on hand-made columns.
#ifndef SCANFIT_ANALYSIS_NADIR_H_
#define SCANFIT_ANALYSIS_NADIR_H_

#include "scan/scan_data.h"

// Sweep index of the nadir and the sigma a line must stay below to give a
// record at all.
constexpr short kNadirSweepIndex = 125;
constexpr float kNadirSigmaLimit = 3.0f;

struct NadirRecord {
  float col0 = 0.0f;
  float latitude = 0.0f;
  float longitude = 0.0f;
  float elevation = 0.0f;
  bool measured = false;  // the point at sweep index 125, not interpolated
};

// The record of the line of points first..last (both included), if it has
// one. Needs the line's distance and pointSigma already written, and its
// stored slope and intercept.
bool findNadirRecord(const ScanData& data, int first, int last, float slope,
                     float intercept, NadirRecord& record);

void appendNadirRecord(ScanData& data, const NadirRecord& record);

#endif  // SCANFIT_ANALYSIS_NADIR_H_
