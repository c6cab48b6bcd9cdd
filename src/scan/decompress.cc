#include "scan/decompress.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Compressed bytes read at a time, in blocks: the libraries decode fastest
// far from the end of the bytes they are given, and reads of one block
// cost zstd and igzip about a third of their speed here.
constexpr std::size_t kReadBlocks = 8;

bool startsWith(const unsigned char* bytes, std::size_t size,
                const char* magic, std::size_t length) {
  return size >= length && std::memcmp(bytes, magic, length) == 0;
}

// gzip: its magic, deflate, and no reserved flag. Each check makes a
// binary point file that only looks like gzip rarer: its first time would
// have to be one of 32 values.
bool isGzip(const unsigned char* b, std::size_t size) {
  return size >= 4 && b[0] == 0x1f && b[1] == 0x8b && b[2] == 8 &&
         (b[3] & 0xe0) == 0;
}

// zstd: a frame, or a skippable frame (pzstd starts with one).
bool isZstd(const unsigned char* b, std::size_t size) {
  return startsWith(b, size, "\x28\xb5\x2f\xfd", 4) ||
         (size >= 4 && (b[0] & 0xf0) == 0x50 && b[1] == 0x2a && b[2] == 0x4d &&
          b[3] == 0x18);
}

// bzip2: "BZh", the block size, and a block or the end of the stream: a
// text file that starts with "BZh9" stays text.
bool isBzip2(const unsigned char* b, std::size_t size) {
  return size >= 10 && startsWith(b, size, "BZh", 3) && b[3] >= '1' &&
         b[3] <= '9' &&
         (std::memcmp(b + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0 ||
          std::memcmp(b + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0);
}

Decoder makeDecoder(Compression compression, std::string& reason) {
  switch (compression) {
    case Compression::Gzip: return makeGzipDecoder(reason);
    case Compression::Zstd: return makeZstdDecoder(reason);
    case Compression::Xz: return makeXzDecoder(reason);
    case Compression::Bzip2: return makeBzip2Decoder(reason);
    case Compression::None: break;
  }
  reason = "Internal error (bug)";
  return Decoder();
}

// Reads what may be read at once, up to `n` bytes, after the bytes held.
// Zero bytes, or an error, ends the file. Returns the bytes read.
std::size_t readMore(int fd, ByteBuffer& into, std::size_t n, bool& ended,
                     int& error) {
  into.reserve(into.size + n);
  ssize_t got;
  do {
    got = ::read(fd, into.bytes + into.size, n);
  } while (got < 0 && errno == EINTR);
  if (got < 0) error = errno;
  if (got <= 0) {
    ended = true;
    return 0;
  }
  into.size += std::size_t(got);
  return std::size_t(got);
}

// Refills the compressed bytes once all of them are decompressed.
bool refill(Decompressor& d) {
  if (d.taken < d.compressed.size || d.fileEnded) return true;
  d.compressed.size = 0;
  d.taken = 0;
  int error = 0;
  d.bytesRead += readMore(d.fd, d.compressed, kReadBlocks * d.blockBytes,
                          d.fileEnded, error);
  if (error == 0) return true;
  d.error = std::strerror(error);
  return false;
}

// Whether compressed bytes follow the member that has just ended.
bool moreFollows(Decompressor& d) {
  return refill(d) && d.taken < d.compressed.size;
}

// One call of the decoder on the bytes at hand, into `out`. Returns false
// when the input cannot be read.
bool decodeInto(Decompressor& d, ByteBuffer& out) {
  if (!refill(d)) return false;
  DecodeCall call;
  call.in = reinterpret_cast<const unsigned char*>(d.compressed.bytes) + d.taken;
  call.inSize = d.compressed.size - d.taken;
  call.out = reinterpret_cast<unsigned char*>(out.bytes) + out.size;
  call.outSize = d.blockBytes - out.size;
  call.inputEnds = d.fileEnded;
  const std::size_t inBefore = call.inSize, outBefore = call.outSize;
  const DecodeStatus status = d.decoder.decode(d.decoder.state.get(), call, d.error);
  d.taken += inBefore - call.inSize;
  out.size += outBefore - call.outSize;
  switch (status) {
    case DecodeStatus::Failed:
      return false;
    case DecodeStatus::MemberEnded:
      if (!moreFollows(d)) {
        d.ended = d.error.empty();
        return d.ended;
      }
      return d.decoder.restart(d.decoder.state.get(), d.error);
    case DecodeStatus::Going:
      break;
  }
  // A decoder stops only for want of input or of room: with room left,
  // nothing done and no more input to come (or input it will not take),
  // the input ends before the compressed data do.
  const bool stuck = inBefore == call.inSize && outBefore == call.outSize;
  if (stuck && (d.fileEnded || call.inSize > 0)) {
    d.error = "Unexpected end of the compressed data";
    return false;
  }
  return true;
}

}  // namespace

// Here, where a decompressor is a whole type.
InputReader::InputReader() = default;
InputReader::~InputReader() = default;

const char* compressionName(Compression compression) {
  switch (compression) {
    case Compression::None: return "none";
    case Compression::Gzip: return "gzip";
    case Compression::Zstd: return "zstd";
    case Compression::Xz: return "xz";
    case Compression::Bzip2: return "bzip2";
  }
  return "none";
}

const char* compressionName(const InputReader& reader) {
  return compressionName(reader.decompressor ? reader.decompressor->compression
                                             : Compression::None);
}

std::string readFailure(const InputReader& reader) {
  if (reader.readError != 0) return std::strerror(reader.readError);
  return reader.decompressor ? reader.decompressor->error : std::string();
}

Compression compressionOf(const unsigned char* bytes, std::size_t size) {
  if (isGzip(bytes, size)) return Compression::Gzip;
  if (isZstd(bytes, size)) return Compression::Zstd;
  if (startsWith(bytes, size, "\xfd" "7zXZ\0", 6)) return Compression::Xz;
  if (isBzip2(bytes, size)) return Compression::Bzip2;
  return Compression::None;
}

void detectCompression(InputReader& reader) {
  ByteBuffer& first = reader.pending;
  const int fd = reader.file.handle();
  while (first.size < kLongestMagic && !reader.atEnd)
    reader.bytesRead += readMore(fd, first, kLongestMagic - first.size,
                                 reader.atEnd, reader.readError);
  const Compression compression = compressionOf(
      reinterpret_cast<const unsigned char*>(first.bytes), first.size);
  if (compression == Compression::None || reader.readError != 0) return;
  auto d = std::make_unique<Decompressor>();
  d->compression = compression;
  d->fd = fd;
  d->blockBytes = reader.blockBytes;
  d->compressed.swap(first);
  d->fileEnded = reader.atEnd;
  d->bytesRead = reader.bytesRead;
  reader.decompressor = std::move(d);
  // Everything the reader reads now comes decompressed from the blocks.
  reader.atEnd = false;
  reader.bytesRead = 0;
}

bool decompressBlock(Decompressor& d, SuppliedBlock& block) {
  if (d.ended || !d.error.empty()) return false;
  if (!d.decoder.state) {
    d.decoder = makeDecoder(d.compression, d.error);
    if (!d.decoder.state) return false;
  }
  ByteBuffer& out = block.bytes;
  out.size = 0;
  out.reserve(d.blockBytes);
  while (out.size < d.blockBytes && !d.ended) {
    if (!decodeInto(d, out)) return false;
  }
  block.endsInput = d.ended;
  block.bytesRead = d.bytesRead;
  return true;
}
