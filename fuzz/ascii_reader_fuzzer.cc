// Fuzz target of the ASCII scanner file reader. The input is one control
// byte and then the file's bytes: byte 0 is the block size less one (1 to
// 256 bytes), so that lines, carriage returns, byte-order marks and
// multi-byte characters straddle block edges. The file is read in those
// blocks and again in one block; both reads must agree to the bit, and
// each must be complete: one point per accepted line, one message per
// rejected one.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "scan_checks.h"
#include "staged_read.h"

namespace {

// False when the input could not be put in a file.
bool readInto(StagedRead& read, const std::uint8_t* bytes, std::size_t size,
              std::size_t blockBytes) {
  InputReader reader;
  reader.blockBytes = blockBytes;
  if (!openMemoryFile(reader.file, bytes, size)) return false;
  read = readInStages(reader);
  return true;
}

void requireCompleteRead(StagedRead& read) {
  require(read.textLines >= 1 && read.rejectedLines >= 0);
  require(std::int64_t(read.points.pointCount()) ==
          read.textLines - read.rejectedLines);
  require(rowCount(read.messages) == std::size_t(read.rejectedLines));
  read.points.segmentScanLines();
  requireReadStore(read.points);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  if (size < 1) return 0;
  const std::size_t blockBytes = std::size_t(bytes[0]) + 1;
  bytes += 1;
  size -= 1;

  StagedRead whole, blocks;
  if (!readInto(whole, bytes, size, size + 1)) return 0;
  if (!readInto(blocks, bytes, size, blockBytes)) return 0;
  require(sameRead(whole, blocks));
  requireCompleteRead(whole);
  return 0;
}
