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
// next, which bounds the memory of any run. So does a bound on the length
// of a text line, since a batch holds whole lines: a quarter of the memory
// the process may use (driver/memory_limit.h), shared by the batches in
// flight, as a batch's buffer grows to half as much again as its line and
// a line of a UTF-16 or UTF-32 input is held as text besides.
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

// How a streamed run ended; a failure stops it soon after.
enum class StreamEnd {
  kWhole,        // the whole input went through
  kWriteFailed,  // an output could not be written: failedOutput
  kReadFailed,   // the input could not be read: readFailure(reader)
  kLineTooLong,  // the text line after the totals' textLines passed the
                 // reader's longestLine
};

struct StreamResult {
  StreamEnd end = StreamEnd::kWhole;
  // The first output whose write failed (its writeError tells why).
  const OutputBuffer* failedOutput = nullptr;
};

// Streams the rest of the input of `reader` into `sinks`, rejected lines
// reported on `messages`, on at most `threads` threads (0: one per
// processor the process may use), with `progress` (may be null) updated as
// batches are written. The worker threads it starts have ended when it
// returns.
StreamResult streamRun(InputReader& reader, const RunSinks& sinks,
                       std::ostream& messages, int threads,
                       Progress* progress, RunTotals& totals);

#endif  // SCANFIT_DRIVER_STREAM_RUN_H_
