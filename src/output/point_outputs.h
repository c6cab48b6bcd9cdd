// The point outputs: every point whose residual is a number goes, in input
// order, to the fit, high or low output chosen by classifyResidual. An
// ASCII run writes fixed-width text rows, a binary run the 18-byte point
// records it reads. Points with a NaN residual are written nowhere. Each
// writer appends the rows of one store (a batch of a run) and returns the
// points it found in each class.
#ifndef SCANFIT_OUTPUT_POINT_OUTPUTS_H_
#define SCANFIT_OUTPUT_POINT_OUTPUTS_H_

#include "analysis/residual_class.h"
#include "output/row_block.h"
#include "scan/scan_data.h"

// Rows of col0, latitude, longitude, elevation, col4, sweepIndex, col6
// (only when data.sevenColumns), residual, pointSigma.
ClassCounts writeTextPoints(const ScanData& data, PointRows& rows);

// Point records: the four real columns scaled, truncated and saturated to
// int32, then the low bytes of col4 and sweepIndex.
ClassCounts writeBinaryPoints(const ScanData& data, PointRows& rows);

#endif  // SCANFIT_OUTPUT_POINT_OUTPUTS_H_
