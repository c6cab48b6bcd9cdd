// Batches of whole scan lines. The input is read in blocks that know
// nothing of scan lines, so the last line of a block's points may go on in
// the next block. It is held back and put in front of the next block's
// points; only at the end of the input is it known to be the last scan
// line, which is never fitted.
#ifndef SCANFIT_SCAN_WHOLE_LINES_H_
#define SCANFIT_SCAN_WHOLE_LINES_H_

#include "scan/scan_data.h"

// Puts the points of `heldBack` in front of the points of `batch` (emptying
// `heldBack`) and cuts the scan lines. Unless `endsInput`, the last line
// is then moved back into `heldBack` and lineStart closed with the point
// count, so that every line of the batch is whole and has an end.
void keepWholeLines(ScanData& batch, ScanData& heldBack, bool endsInput);

#endif  // SCANFIT_SCAN_WHOLE_LINES_H_
