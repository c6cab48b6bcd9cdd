// The two per-line text tables of a run: "%1_fit.ver", one row per nadir
// record, and "%1.fit", one row per fitted scan line. Both are fixed-width
// rows with no header or separator, in scan-line order. Each writer
// appends the rows of one store (a batch of a run) to a block.
#ifndef SCANFIT_OUTPUT_LINE_OUTPUTS_H_
#define SCANFIT_OUTPUT_LINE_OUTPUTS_H_

#include "output/row_block.h"
#include "scan/scan_data.h"

// Rows of nadirCol0, nadirLatitude, nadirLongitude, nadirElevation.
void writeVerFile(RowBlock& out, const ScanData& data);

// Rows of lineCol0, lineSlope, lineIntercept, lineSigma.
void writeFitFile(RowBlock& out, const ScanData& data);

#endif  // SCANFIT_OUTPUT_LINE_OUTPUTS_H_
