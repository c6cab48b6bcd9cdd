// A whole input read into one store, block by block, through the stages a
// run uses (read, convert, number the rejected lines), but with every
// point kept: what the fuzz targets and the reader tests compare. Nothing
// is cut into scan lines or fitted.
#ifndef SCANFIT_FUZZ_STAGED_READ_H_
#define SCANFIT_FUZZ_STAGED_READ_H_

#include <cstdint>
#include <string>

#include "scan/input_reader.h"
#include "scan/scan_data.h"

struct StagedRead {
  ScanData points;        // every accepted point, sevenColumns set
  std::string messages;   // the rejected-line messages, as a run writes them
  std::int64_t textLines = 0;
  std::int64_t rejectedLines = 0;
  std::int64_t blocks = 0;
  std::string failure;    // why the input could not be read whole, or empty
};

// Reads the rest of the opened input of `reader`, in its block size; a
// compressed one (scan/decompress.h) decompressed a block at a time first.
StagedRead readInStages(InputReader& reader);

// Both reads found the same points, bit for bit, and the same lines.
bool sameRead(const StagedRead& a, const StagedRead& b);

#endif  // SCANFIT_FUZZ_STAGED_READ_H_
