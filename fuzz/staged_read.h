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
};

// Reads the rest of the opened input of `reader`, in its block size.
StagedRead readInStages(InputReader& reader);

#endif  // SCANFIT_FUZZ_STAGED_READ_H_
