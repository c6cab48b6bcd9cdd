// The two per-line text tables of a run: "%1_fit.ver", one row per nadir
// record, and "%1.fit", one row per fitted scan line. Both are fixed-width
// rows with no header or separator, in scan-line order.
#ifndef SCANFIT_OUTPUT_LINE_OUTPUTS_H_
#define SCANFIT_OUTPUT_LINE_OUTPUTS_H_

#include "output/output_buffer.h"
#include "scan/scan_data.h"

// Rows of nadirCol0, nadirLatitude, nadirLongitude, nadirElevation.
void writeVerFile(OutputBuffer& out, const ScanData& data);

// Rows of lineCol0, lineSlope, lineIntercept, lineSigma.
void writeFitFile(OutputBuffer& out, const ScanData& data);

#endif  // SCANFIT_OUTPUT_LINE_OUTPUTS_H_
