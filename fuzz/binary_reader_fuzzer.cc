// Fuzz target of the binary point file reader: the input is the file, read
// one record a block and in one block. Every whole 18-byte record must
// become one point (a trailing partial record none), each value within
// what its int32 or byte can hold, and both reads must agree.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "scan/point_record.h"
#include "scan_checks.h"
#include "staged_read.h"

namespace {

// The largest magnitudes a scaled int32 decodes to, rounded as the reader
// rounds (monotonically, so no decoded value lies beyond them).
const float kMostE7 = static_cast<float>(2147483648.0 / 1e7);
const float kMostE3 = static_cast<float>(2147483648.0 / 1e3);

void requireWithin(const std::vector<float>& column, float most) {
  for (float value : column) require(std::fabs(value) <= most);
}

void requireByte(const std::vector<short>& column) {
  for (short value : column) require(value >= 0 && value <= 255);
}

bool readInto(StagedRead& read, const std::uint8_t* bytes, std::size_t size,
              std::size_t blockBytes) {
  InputReader reader;
  reader.binary = true;
  reader.blockBytes = blockBytes;
  if (!openMemoryFile(reader.file, bytes, size)) return false;
  read = readInStages(reader);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  StagedRead whole, records;
  if (!readInto(whole, bytes, size, size + kPointRecordSize) ||
      !readInto(records, bytes, size, kPointRecordSize))
    return 0;
  ScanData& data = whole.points;
  require(data.pointCount() == size / kPointRecordSize);
  require(whole.textLines == 0 && whole.messages.empty());
  require(!data.sevenColumns && data.col6.empty());
  require(records.points.col0 == data.col0 &&
          records.points.sweepIndex == data.sweepIndex &&
          records.blocks == std::int64_t(data.pointCount()) + 1);
  data.segmentScanLines();
  requireReadStore(data);
  requireWithin(data.col0, kMostE7);
  requireWithin(data.latitude, kMostE7);
  requireWithin(data.longitude, kMostE7);
  requireWithin(data.elevation, kMostE3);
  requireByte(data.col4);
  requireByte(data.sweepIndex);
  return 0;
}
