// Fuzz target of the binary point file reader: the input is the file.
// Every whole 18-byte record must become one point (a trailing partial
// record none), each value within what its int32 or byte can hold, and the
// store must be consistent.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "scan/point_record.h"
#include "scan/scan_data.h"
#include "scan_checks.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  ScanData data;
  if (!openMemoryFile(data.file, bytes, size)) return 0;
  require(data.readBinary() == 0);
  require(data.pointCount() == size / kPointRecordSize);
  require(!data.sevenColumns);
  requireReadStore(data);
  requireWithin(data.col0, kMostE7);
  requireWithin(data.latitude, kMostE7);
  requireWithin(data.longitude, kMostE7);
  requireWithin(data.elevation, kMostE3);
  requireByte(data.col4);
  requireByte(data.sweepIndex);
  return 0;
}
