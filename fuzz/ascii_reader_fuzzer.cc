// Fuzz target of the ASCII scanner file reader. The input is two control
// bytes and then the file's bytes:
//   byte 0: the block size, 1 to 256 bytes, so that lines, carriage
//           returns, byte-order marks and multi-byte characters straddle
//           block edges;
//   byte 1: below 32, a line limit of that many lines; otherwise none.
// The file is read in those blocks and again in one block with no limit;
// both reads must agree to the bit (or the first refuse exactly when the
// file has more lines than its limit), and each must leave a consistent
// store.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "scan/ascii_reader.h"
#include "scan/input_open.h"
#include "scan/scan_data.h"
#include "scan_checks.h"

namespace {

constexpr std::uint8_t kFirstUnlimited = 32;

struct AsciiRead {
  ScanData data;
  std::ostringstream messages;
  int points = 0;
};

// False when the input could not be put in a file.
bool readInto(AsciiRead& read, const std::uint8_t* bytes, std::size_t size,
          std::size_t blockSize, std::int64_t maxLines) {
  if (!openMemoryFile(read.data.file, bytes, size)) return false;
  read.points = readAsciiBlocks(read.data, read.messages, blockSize, maxLines);
  if (read.points >= 0) read.data.segmentScanLines();
  return true;
}

template <typename T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool sameRead(const AsciiRead& a, const AsciiRead& b) {
  const ScanData& x = a.data;
  const ScanData& y = b.data;
  return a.points == b.points && x.lineCount == y.lineCount &&
         x.badLineCount == y.badLineCount &&
         x.sevenColumns == y.sevenColumns && sameBits(x.col0, y.col0) &&
         sameBits(x.latitude, y.latitude) &&
         sameBits(x.longitude, y.longitude) &&
         sameBits(x.elevation, y.elevation) && sameBits(x.col4, y.col4) &&
         sameBits(x.sweepIndex, y.sweepIndex) && sameBits(x.col6, y.col6) &&
         x.lineStart == y.lineStart &&
         a.messages.str() == b.messages.str();
}

// A completed read: one point per accepted line, one message per rejected
// one.
void requireCompleteRead(const AsciiRead& read) {
  const ScanData& data = read.data;
  require(read.points >= 0 && data.badLineCount >= 0 &&
          data.lineCount >= data.badLineCount);
  require(static_cast<std::size_t>(read.points) == data.pointCount());
  require(read.points == data.lineCount - data.badLineCount);
  require(rowCount(read.messages.str()) ==
          static_cast<std::size_t>(data.badLineCount));
  requireReadStore(data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  if (size < 2) return 0;
  const std::size_t blockSize = std::size_t(bytes[0]) + 1;
  const std::int64_t maxLines =
      bytes[1] < kFirstUnlimited ? bytes[1] : kMaxInputPoints;
  bytes += 2;
  size -= 2;

  AsciiRead whole;
  if (!readInto(whole, bytes, size, size + 1, kMaxInputPoints)) return 0;
  requireCompleteRead(whole);

  AsciiRead blocks;
  if (!readInto(blocks, bytes, size, blockSize, maxLines)) return 0;
  if (whole.data.lineCount > maxLines) {
    require(blocks.points == -1 && blocks.data.lineCount == 0 &&
            blocks.data.badLineCount == 0);
    return 0;
  }
  require(sameRead(whole, blocks));
  return 0;
}
