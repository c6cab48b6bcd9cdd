// Properties of a ScanData that hold after every read and every fit,
// whatever the input: the fuzz targets stop on the first that fails.
#ifndef SCANFIT_FUZZ_SCAN_CHECKS_H_
#define SCANFIT_FUZZ_SCAN_CHECKS_H_

#include <string>

#include "scan/scan_data.h"

// After a read and the cut into scan lines: every point column N long
// (col6 only in the seven-column form), lineStart strictly ascending from
// 0 and below N (just {0} for no points).
void requireReadStore(const ScanData& data);

// After fitScanLines: the work columns N long, one result per scan line of
// more than 10 points that is not the last line, at most one nadir record
// per result, and the work columns of every point outside those lines zero.
void requireFittedStore(const ScanData& data);

// Rows of a text output: its line feeds.
std::size_t rowCount(const std::string& text);

#endif  // SCANFIT_FUZZ_SCAN_CHECKS_H_
