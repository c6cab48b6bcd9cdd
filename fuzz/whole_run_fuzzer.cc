// Fuzz target of a whole analysis, as a run does it but with every output
// kept in memory: read, fit, then all five writers. Byte 0 picks the run:
//   odd:            a binary run;
//   0:              an ASCII run through readAscii itself;
//   any other even: an ASCII run read in blocks of byte0 / 2 bytes.
// The rest of the input is the file. Besides a consistent store, every
// output must hold what the store says: one row per nadir record and per
// fitted line, and every point with a residual in the file of its class.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "analysis/residual_class.h"
#include "fuzz_input.h"
#include "output/line_outputs.h"
#include "output/output_buffer.h"
#include "output/point_outputs.h"
#include "scan/ascii_reader.h"
#include "scan/input_open.h"
#include "scan/point_record.h"
#include "scan/scan_data.h"
#include "scan_checks.h"

namespace {

// Points per residual class, NaN residuals (in no class) left out.
struct ClassCounts {
  std::size_t fit = 0, high = 0, low = 0;
};

ClassCounts countClasses(const ScanData& data) {
  ClassCounts counts;
  for (float r : data.residual) {
    switch (classifyResidual(r)) {
      case ResidualClass::Fit: ++counts.fit; break;
      case ResidualClass::High: ++counts.high; break;
      case ResidualClass::Low: ++counts.low; break;
      case ResidualClass::Unclassified: require(std::isnan(r)); break;
    }
  }
  return counts;
}

// Reads the file in the way byte 0 asks; false for an input refused as
// too long, which no fuzz input can be.
bool readInput(ScanData& data, std::uint8_t mode) {
  if (mode % 2 == 1) return data.readBinary() == 0;
  std::ostringstream messages;
  if (mode == 0) return data.readAscii(messages) >= 0;
  if (readAsciiBlocks(data, messages, mode / 2, kMaxInputPoints) < 0)
    return false;
  data.segmentScanLines();
  return true;
}

void requireLineOutputs(const ScanData& data) {
  OutputBuffer ver, fit;
  writeVerFile(ver, data);
  writeFitFile(fit, data);
  require(rowCount(ver.pending) == data.nadirCol0.size());
  require(rowCount(fit.pending) == data.lineCol0.size());
}

void requirePointOutputs(const ScanData& data, bool binary) {
  OutputBuffer fit, high, low;
  const ClassCounts counts = countClasses(data);
  if (binary) {
    writeBinaryPoints(data, fit, high, low);
    require(fit.pending.size() == kPointRecordSize * counts.fit);
    require(high.pending.size() == kPointRecordSize * counts.high);
    require(low.pending.size() == kPointRecordSize * counts.low);
  } else {
    writeTextPoints(data, fit, high, low);
    require(rowCount(fit.pending) == counts.fit);
    require(rowCount(high.pending) == counts.high);
    require(rowCount(low.pending) == counts.low);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = bytes[0];
  ScanData data;
  if (!openMemoryFile(data.file, bytes + 1, size - 1)) return 0;
  require(readInput(data, mode));
  requireReadStore(data);
  data.fitScanLines();
  requireFittedStore(data);
  requireLineOutputs(data);
  requirePointOutputs(data, mode % 2 == 1);
  return 0;
}
