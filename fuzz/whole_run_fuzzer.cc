// Fuzz target of a whole run. Byte 0 picks the run: odd for a binary run,
// even for a text run, and byte 0 / 2 + 1 bytes per block; the rest of the
// input is the file. The file goes through the streaming run, in those
// blocks on two threads, with its five outputs and its messages kept in
// memory; and through the plain path: every point read into one store,
// fitted line after line, written out. Batch edges must be invisible: both
// give the same bytes. Besides, the store must be consistent and every
// output hold what it says: one row per nadir record and per fitted line,
// and every point with a residual in the file of its class.
#include <oneapi/tbb/global_control.h>

#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include "analysis/residual_class.h"
#include "driver/stream_run.h"
#include "fuzz_input.h"
#include "plain_fit.h"
#include "output/line_outputs.h"
#include "output/point_outputs.h"
#include "output/row_block.h"
#include "scan/point_record.h"
#include "scan_checks.h"
#include "staged_read.h"

namespace {

// The bytes of the five outputs, in the order of RunSinks, and the
// messages.
struct RunBytes {
  std::string ver, fit, pointFit, pointHigh, pointLow, messages;

  bool operator==(const RunBytes& o) const {
    return ver == o.ver && fit == o.fit && pointFit == o.pointFit &&
           pointHigh == o.pointHigh && pointLow == o.pointLow &&
           messages == o.messages;
  }
};

bool openInput(InputReader& reader, const std::uint8_t* bytes,
               std::size_t size, bool binary, std::size_t blockBytes) {
  reader.binary = binary;
  reader.blockBytes = blockBytes;
  return openMemoryFile(reader.file, bytes, size);
}

// The streaming run, outputs in memory files. False when the system
// refuses a memory file.
bool streamed(const std::uint8_t* bytes, std::size_t size, bool binary,
              std::size_t blockBytes, RunBytes& out) {
  InputReader reader;
  if (!openInput(reader, bytes, size, binary, blockBytes)) return false;
  OutputBuffer buffers[5];
  for (OutputBuffer& buffer : buffers) buffer.fd = openMemoryOutput();
  bool opened = true;
  for (OutputBuffer& buffer : buffers) opened = opened && buffer.fd >= 0;
  std::ostringstream messages;
  RunTotals totals;
  if (opened) {
    const RunSinks sinks{&buffers[0], &buffers[1], &buffers[2], &buffers[3],
                         &buffers[4]};
    require(streamRun(reader, sinks, messages, 2, nullptr, totals).end ==
            StreamEnd::kWhole);
  }
  std::string* const texts[5] = {&out.ver, &out.fit, &out.pointFit,
                                 &out.pointHigh, &out.pointLow};
  for (int k = 0; k < 5; ++k) {
    buffers[k].flush();
    if (buffers[k].fd >= 0) {
      *texts[k] = contentsOf(buffers[k].fd);
      close(buffers[k].fd);
    }
  }
  out.messages = messages.str();
  if (opened) require(std::size_t(totals.fittedLines) == rowCount(out.fit));
  return opened;
}

void requirePointRows(const ScanData& data, const PointRows& rows,
                      bool binary) {
  std::size_t fit = 0, high = 0, low = 0;
  for (float r : data.residual) {
    switch (classifyResidual(r)) {
      case ResidualClass::Fit: ++fit; break;
      case ResidualClass::High: ++high; break;
      case ResidualClass::Low: ++low; break;
      case ResidualClass::Unclassified: require(std::isnan(r)); break;
    }
  }
  const auto count = [binary](const RowBlock& block) {
    return binary ? block.size / kPointRecordSize
                  : rowCount(textOf(block));
  };
  require(count(rows.fit) == fit && count(rows.high) == high &&
          count(rows.low) == low);
}

// Every point in one store, fitted line after line from T = 1.
bool plain(const std::uint8_t* bytes, std::size_t size, bool binary,
           RunBytes& out) {
  InputReader reader;
  if (!openInput(reader, bytes, size, binary, size + kPointRecordSize))
    return false;
  StagedRead read = readInStages(reader);
  ScanData& data = read.points;
  data.segmentScanLines();
  requireReadStore(data);
  fitScanLines(data);
  requireFittedStore(data);

  RowBlock ver, fit;
  PointRows rows;
  writeVerFile(ver, data);
  writeFitFile(fit, data);
  require(rowCount(textOf(ver)) == data.nadirCol0.size());
  require(rowCount(textOf(fit)) == data.lineCol0.size());
  if (binary)
    writeBinaryPoints(data, rows);
  else
    writeTextPoints(data, rows);
  requirePointRows(data, rows, binary);
  out = {textOf(ver),       textOf(fit),
         textOf(rows.fit),  textOf(rows.high),
         textOf(rows.low),  read.messages};
  return true;
}

// A hold on oneTBB's scheduler for the whole process. A run ends its
// worker threads when it is over, unless something else holds the
// scheduler: held here, the workers serve input after input (starting them
// anew for each took a third of the target's time), and they end at exit,
// before the leak check, which would otherwise find what they hold.
oneapi::tbb::task_scheduler_handle& schedulerHold() {
  static oneapi::tbb::task_scheduler_handle hold{oneapi::tbb::attach{}};
  return hold;
}

void endWorkers() { oneapi::tbb::finalize(schedulerHold(), std::nothrow); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  static const bool held = (schedulerHold(), std::atexit(endWorkers) == 0);
  (void)held;
  if (size < 1) return 0;
  const bool binary = bytes[0] % 2 == 1;
  const std::size_t blockBytes = bytes[0] / 2 + 1;
  RunBytes expected, actual;
  if (!plain(bytes + 1, size - 1, binary, expected)) return 0;
  if (!streamed(bytes + 1, size - 1, binary, blockBytes, actual)) return 0;
  require(actual == expected);
  return 0;
}
