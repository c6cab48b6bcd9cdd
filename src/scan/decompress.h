// Reading a compressed input as it is stored: gzip, zstd, xz and bzip2,
// recognised by their first bytes whatever the name, decompressed a block
// at a time by the run's first stage while the stages after it convert
// the blocks before. The reader then takes its bytes from those blocks
// (InputReader::supply) instead of the file. A broken input, truncated or
// corrupt, is a read error with the library's reason, never a shorter
// flight.
#ifndef SCANFIT_SCAN_DECOMPRESS_H_
#define SCANFIT_SCAN_DECOMPRESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "scan/decoder.h"
#include "scan/input_reader.h"

enum class Compression { None, Gzip, Zstd, Xz, Bzip2 };

// "none", "gzip", "zstd", "xz" or "bzip2", as the run report names it.
const char* compressionName(Compression compression);

// What the first `size` bytes of an input say it is. Enough bytes to tell
// are kLongestMagic; fewer mean an input too short to be compressed.
constexpr std::size_t kLongestMagic = 10;
Compression compressionOf(const unsigned char* bytes, std::size_t size);

struct Decompressor {
  Compression compression = Compression::None;
  int fd = -1;                 // the compressed input, read in order
  std::size_t blockBytes = 0;  // decompressed bytes a block holds
  Decoder decoder;             // made with the first block
  ByteBuffer compressed;       // read and not yet decompressed
  std::size_t taken = 0;       // of those, the bytes decompressed
  bool fileEnded = false;      // nothing more to read
  bool ended = false;          // the block that ends the input is made
  std::uint64_t bytesRead = 0; // of the compressed input
  std::string error;           // why the input cannot be read, or empty
};

// The compression of the input of `reader`, as compressionName names it.
const char* compressionName(const InputReader& reader);

// Why the input of `reader` could not be read whole (a failed read, a
// broken compressed input), or empty.
std::string readFailure(const InputReader& reader);

// Reads the first bytes of the opened input of `reader` (waiting for them
// on a pipe, never seeking) and sets reader.compression by them. A
// compressed input gets its decompressor, to which the bytes go; an input
// as stored keeps them as the first it reads. A read that fails is the
// reader's readError.
void detectCompression(InputReader& reader);

// Decompresses the next block of the input into `block`: blockBytes bytes,
// fewer only in the block that ends the input. Returns false once that
// block is made, or when the input cannot be read (error tells why).
bool decompressBlock(Decompressor& decompressor, SuppliedBlock& block);

#endif  // SCANFIT_SCAN_DECOMPRESS_H_
