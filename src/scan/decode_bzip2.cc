// bzip2 through libbz2. A file may hold several streams one after another
// (pbzip2 and `cat a.bz2 b.bz2` write them); each is decompressed in turn,
// its CRCs checked.
#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "scan/decoder.h"

namespace {

// libbz2's codes, in the words of the bzip2 program.
const char* bzip2Reason(int code) {
  switch (code) {
    case BZ_MEM_ERROR: return "Cannot allocate memory";
    case BZ_DATA_ERROR: return "Data integrity (CRC) error in data";
    case BZ_DATA_ERROR_MAGIC: return "Bad magic number (not a bzip2 stream)";
    default: return "Internal error (bug)";
  }
}

// Normal speed: the small mode saves 1.4 MiB at half the speed.
int startStream(bz_stream* stream) {
  *stream = bz_stream{};
  return BZ2_bzDecompressInit(stream, 0, 0);
}

DecodeStatus decodeBzip2(void* opaque, DecodeCall& call, std::string& reason) {
  auto* const stream = static_cast<bz_stream*>(opaque);
  // libbz2 counts in unsigned int; a call takes at most that much.
  const unsigned most = UINT_MAX;
  const unsigned inSize = unsigned(std::min<std::size_t>(call.inSize, most));
  const unsigned outSize = unsigned(std::min<std::size_t>(call.outSize, most));
  stream->next_in = const_cast<char*>(reinterpret_cast<const char*>(call.in));
  stream->avail_in = inSize;
  stream->next_out = reinterpret_cast<char*>(call.out);
  stream->avail_out = outSize;
  const int result = BZ2_bzDecompress(stream);
  call.in += inSize - stream->avail_in;
  call.inSize -= inSize - stream->avail_in;
  call.out += outSize - stream->avail_out;
  call.outSize -= outSize - stream->avail_out;
  if (result == BZ_OK) return DecodeStatus::Going;
  if (result == BZ_STREAM_END) return DecodeStatus::MemberEnded;
  reason = bzip2Reason(result);
  return DecodeStatus::Failed;
}

bool restartBzip2(void* opaque, std::string& reason) {
  auto* const stream = static_cast<bz_stream*>(opaque);
  BZ2_bzDecompressEnd(stream);
  const int result = startStream(stream);
  if (result == BZ_OK) return true;
  reason = bzip2Reason(result);
  return false;
}

void releaseBzip2(void* opaque) {
  auto* const stream = static_cast<bz_stream*>(opaque);
  BZ2_bzDecompressEnd(stream);
  delete stream;
}

}  // namespace

Decoder makeBzip2Decoder(std::string& reason) {
  Decoder decoder;
  auto* const stream = new (std::nothrow) bz_stream;
  if (stream == nullptr) {
    reason = bzip2Reason(BZ_MEM_ERROR);
    return decoder;
  }
  const int result = startStream(stream);
  if (result != BZ_OK) {
    reason = bzip2Reason(result);
    delete stream;
    return decoder;
  }
  decoder.state = {stream, releaseBzip2};
  decoder.decode = decodeBzip2;
  decoder.restart = restartBzip2;
  return decoder;
}
