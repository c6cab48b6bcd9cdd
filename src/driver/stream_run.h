// The body of a run: the input streamed through a pipeline of batches of
// whole scan lines, in input order, on as many threads as there are
// processors, in memory that does not grow with the input.
//
// Nothing in the method needs the whole flight at once: a scan line needs
// only its own points, the threshold T is the one value carried from line
// to line, and the last scan line (never fitted) is known once the input
// ends. A batch goes through seven stages; the serial ones take the
// batches in input order, the parallel ones take any number at once:
//   1. read a block of the input (serial);
//   2. convert it into point columns and rejected lines (parallel);
//   3. put the scan line held back from the batch before in front, hold
//      back the batch's own last line, and number its text lines (serial);
//   4. the steps of the fit that need only the line (parallel);
//   5. carry T through the batch's lines (serial);
//   6. finish every line and format every output row (parallel);
//   7. append the rows to the five outputs and write the messages of the
//      rejected lines (serial).
// A compressed input has one stage more, before the first: a block is
// decompressed (serial), and the reading takes its bytes.
// A fixed number of batches is in flight, reused from one block to the
// next, which bounds the memory of any run.
#ifndef SCANFIT_DRIVER_STREAM_RUN_H_
#define SCANFIT_DRIVER_STREAM_RUN_H_

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "analysis/residual_class.h"
#include "analysis/scan_fit.h"
#include "driver/progress.h"
#include "output/output_buffer.h"
#include "scan/input_reader.h"
#include "scan/point_bounds.h"

// Where the rows go: the per-line outputs and the point outputs of the
// three classes.
struct RunSinks {
  OutputBuffer* ver;
  OutputBuffer* fit;
  OutputBuffer* pointFit;
  OutputBuffer* pointHigh;
  OutputBuffer* pointLow;
};

// What a run went through, for its report.
struct RunTotals {
  std::int64_t points = 0;         // accepted points
  std::int64_t textLines = 0;      // text lines of a text input
  std::int64_t rejectedLines = 0;  // text lines rejected
  std::int64_t scanLines = 0;      // the last, never fitted, included
  std::int64_t fittedLines = 0;    // rows of the .fit output
  std::int64_t nadirRecords = 0;   // rows of the .ver output
  std::int64_t measuredNadirs = 0; // of those, points at sweep index 125
  ClassCounts classes;             // points per residual class
  std::vector<float> lineSigma;    // every fitted line's sigma, in order
  PointBounds bounds;              // of the points' real columns
  float threshold = kInitialThreshold;  // T after the last line
  int threads = 0;                 // the threads the run had
};

// Streams the rest of the input of `reader` into `sinks`, rejected lines
// reported on `messages`, on at most `threads` threads (0: one per
// processor the process may use), with `progress` (may be null) updated as
// batches are written. Returns false when an output could not be written
// (its writeError tells why) or the input could not be read
// (readFailure(reader) of scan/decompress.h tells why): the run stopped
// soon after.
bool streamRun(InputReader& reader, const RunSinks& sinks,
               std::ostream& messages, int threads, Progress* progress,
               RunTotals& totals);

#endif  // SCANFIT_DRIVER_STREAM_RUN_H_
