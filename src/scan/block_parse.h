// Converting one block of the input into points: the text lines of a block
// into point columns and rejected lines, or the binary point records of a
// block into point columns. Blocks do not depend on each other, so any
// number of them can be converted at once.
#ifndef SCANFIT_SCAN_BLOCK_PARSE_H_
#define SCANFIT_SCAN_BLOCK_PARSE_H_

#include <cstdint>

#include "scan/input_reader.h"
#include "scan/rejected_lines.h"
#include "scan/scan_data.h"

// Appends the block's points to the input columns of `points` and its
// rejected text lines, indexed within the block, to `rejected`. Returns the
// number of text lines in the block (0 for a binary block). The rejected
// lines point into the block's bytes.
std::int64_t parseInputBlock(InputBlock& block, ScanData& points,
                             RejectedLines& rejected);

#endif  // SCANFIT_SCAN_BLOCK_PARSE_H_
