// Fuzz target of the decompressing reader. Byte 0 picks the read: odd for
// a binary input, even for text, and byte 0 / 2 + 1 bytes per block; the
// rest of the input is the file, compressed (gzip, zstd, xz, bzip2, several
// members too) or not. The file is read as a run reads it, its kind told
// by its first bytes and decompressed a tiny block at a time, so that
// members, frames, lines and records cross block edges. What it holds is
// also decompressed in one block and read as an uncompressed file: both
// reads must find the same points and lines. A broken input must fail
// both ways, with a reason.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "scan/decompress.h"
#include "staged_read.h"

namespace {

// Decompressed bytes beyond which an input is not tried: a few kilobytes
// of zstd can stand for gigabytes, and a read in blocks of one byte must
// stay quick.
constexpr std::size_t kMostDecompressed = std::size_t(64) << 10;

struct Read {
  bool opened = false;  // the system gave a memory file
  StagedRead staged;
  bool compressed = false;
};

Read readAsRun(const std::uint8_t* bytes, std::size_t size, bool binary,
               std::size_t blockBytes) {
  Read read;
  InputReader reader;
  reader.binary = binary;
  reader.blockBytes = blockBytes;
  read.opened = openMemoryFile(reader.file, bytes, size);
  if (!read.opened) return read;
  detectCompression(reader);
  read.compressed = reader.decompressor != nullptr;
  read.staged = readInStages(reader);
  return read;
}

// The file's content, decompressed in one block: false when the system
// refuses a memory file or the content is too large to try.
bool contentOf(const std::uint8_t* bytes, std::size_t size, SuppliedBlock& content,
               std::string& failure) {
  InputReader reader;
  reader.blockBytes = kMostDecompressed;
  if (!openMemoryFile(reader.file, bytes, size)) return false;
  detectCompression(reader);
  require(reader.readError == 0);
  const Compression kind = compressionOf(bytes, size);
  require((kind != Compression::None) == (reader.decompressor != nullptr));
  if (!reader.decompressor) {
    content.bytes.reserve(size + 1);
    std::copy(bytes, bytes + size, content.bytes.bytes);
    content.bytes.size = size;
    return true;
  }
  Decompressor& d = *reader.decompressor;
  const bool made = decompressBlock(d, content);
  failure = d.error;
  require(made == failure.empty());
  return !made || content.endsInput;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes,
                                      std::size_t size) {
  if (size < 1) return 0;
  const bool binary = bytes[0] % 2 == 1;
  const std::size_t blockBytes = bytes[0] / 2 + 1;
  bytes += 1;
  size -= 1;

  SuppliedBlock content;
  std::string failure;
  if (!contentOf(bytes, size, content, failure)) return 0;
  const Read actual = readAsRun(bytes, size, binary, blockBytes);
  if (!actual.opened) return 0;
  if (!failure.empty()) {
    // Broken: in blocks too, at the same place or before.
    require(!actual.staged.failure.empty());
    return 0;
  }
  require(actual.staged.failure.empty());
  const Read expected =
      readAsRun(reinterpret_cast<const std::uint8_t*>(content.bytes.bytes),
                content.bytes.size, binary, content.bytes.size + 18);
  if (!expected.opened) return 0;
  // The content of a compressed input may itself look compressed: it is
  // read as it is, never decompressed twice.
  if (expected.compressed) return 0;
  require(sameRead(actual.staged, expected.staged));
  return 0;
}
