#include "staged_read.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "scan/block_parse.h"
#include "driver/rejected_messages.h"
#include "scan/decompress.h"

namespace {

// The next block, decompressed first when the input is compressed, as the
// first stages of a run take it.
bool readNextBlock(InputReader& reader, SuppliedBlock& supplied,
                   InputBlock& block) {
  if (reader.decompressor) {
    if (!decompressBlock(*reader.decompressor, supplied)) return false;
    reader.supply = &supplied;
  }
  return readInputBlock(reader, block);
}

template <typename T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

}  // namespace

bool sameRead(const StagedRead& a, const StagedRead& b) {
  const ScanData& x = a.points;
  const ScanData& y = b.points;
  return a.textLines == b.textLines && a.rejectedLines == b.rejectedLines &&
         x.sevenColumns == y.sevenColumns && sameBits(x.col0, y.col0) &&
         sameBits(x.latitude, y.latitude) &&
         sameBits(x.longitude, y.longitude) &&
         sameBits(x.elevation, y.elevation) && sameBits(x.col4, y.col4) &&
         sameBits(x.sweepIndex, y.sweepIndex) && sameBits(x.col6, y.col6) &&
         a.messages == b.messages;
}

StagedRead readInStages(InputReader& reader) {
  StagedRead read;
  SuppliedBlock supplied;
  InputBlock block;
  ScanData points;
  RejectedLines rejected;
  std::ostringstream messages;
  while (readNextBlock(reader, supplied, block)) {
    points.clear();
    rejected.clear();
    const std::int64_t lines = parseInputBlock(block, points, rejected);
    writeRejectedLines(messages, rejected, read.textLines);
    read.textLines += lines;
    read.rejectedLines += std::int64_t(rejected.size());
    read.points.sevenColumns = block.form == 7;
    forEachPointColumn([&](auto column) {
      auto& into = read.points.*column;
      into.insert(into.end(), (points.*column).begin(), (points.*column).end());
    });
    ++read.blocks;
  }
  read.messages = messages.str();
  read.failure = readFailure(reader);
  return read;
}
