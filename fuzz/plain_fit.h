// The plain path that the streaming run is checked against: every scan
// line of one store fitted one after the other, from T = 1, and the rows
// of an output block as text. The fuzz targets and the tests use it; the
// program never does.
#ifndef SCANFIT_FUZZ_PLAIN_FIT_H_
#define SCANFIT_FUZZ_PLAIN_FIT_H_

#include <string>

#include "output/row_block.h"
#include "scan/scan_data.h"

// Fits every scan line of more than 10 points but the last one, with the
// rejection threshold starting at 1.0: zeroes the work columns, then writes
// each fitted point's distance, residual and sigma and appends the
// per-line results and the nadir records. lineStart must be set.
void fitScanLines(ScanData& data);

// The bytes of `rows`.
std::string textOf(const RowBlock& rows);

#endif  // SCANFIT_FUZZ_PLAIN_FIT_H_
