// xz through liblzma, concatenated streams and stream padding included
// (pixz and `cat a.xz b.xz` write several streams). Every block's check
// is verified. The memory the decoder may take is limited: xz -9 needs a
// 64 MiB dictionary, which would take a run past 64 MiB.
#include <lzma.h>

#include <cstdint>
#include <new>

#include "scan/decoder.h"

namespace {

// liblzma gives codes only; these are the words of the xz program.
const char* lzmaReason(lzma_ret code) {
  switch (code) {
    case LZMA_MEM_ERROR: return "Cannot allocate memory";
    case LZMA_MEMLIMIT_ERROR: return "Memory usage limit reached";
    case LZMA_FORMAT_ERROR: return "File format not recognized";
    case LZMA_OPTIONS_ERROR: return "Unsupported options";
    case LZMA_DATA_ERROR: return "Compressed data is corrupt";
    case LZMA_BUF_ERROR: return "Unexpected end of input";
    default: return "Internal error (bug)";
  }
}

std::string mebibytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB";
}

DecodeStatus decodeXz(void* opaque, DecodeCall& call, std::string& reason) {
  auto* const stream = static_cast<lzma_stream*>(opaque);
  stream->next_in = call.in;
  stream->avail_in = call.inSize;
  stream->next_out = call.out;
  stream->avail_out = call.outSize;
  // The end of the input must be told: only then are the last stream and
  // any padding after it checked.
  const lzma_ret result =
      lzma_code(stream, call.inputEnds ? LZMA_FINISH : LZMA_RUN);
  call.in = stream->next_in;
  call.inSize = stream->avail_in;
  call.out = stream->next_out;
  call.outSize = stream->avail_out;
  if (result == LZMA_OK) return DecodeStatus::Going;
  if (result == LZMA_STREAM_END) return DecodeStatus::MemberEnded;
  reason = lzmaReason(result);
  if (result == LZMA_MEMLIMIT_ERROR)
    reason += ": the input needs " + mebibytes(lzma_memusage(stream)) +
              ", scanfit allows " + mebibytes(kDecoderMemoryBytes);
  return DecodeStatus::Failed;
}

// Streams follow one another inside liblzma: it ends only with the input.
bool restartXz(void*, std::string&) { return true; }

void releaseXz(void* opaque) {
  auto* const stream = static_cast<lzma_stream*>(opaque);
  lzma_end(stream);
  delete stream;
}

}  // namespace

Decoder makeXzDecoder(std::string& reason) {
  Decoder decoder;
  auto* const stream = new (std::nothrow) lzma_stream;
  if (stream == nullptr) {
    reason = lzmaReason(LZMA_MEM_ERROR);
    return decoder;
  }
  *stream = LZMA_STREAM_INIT;
  const lzma_ret result =
      lzma_stream_decoder(stream, kDecoderMemoryBytes, LZMA_CONCATENATED);
  if (result != LZMA_OK) {
    reason = lzmaReason(result);
    delete stream;
    return decoder;
  }
  decoder.state = {stream, releaseXz};
  decoder.decode = decodeXz;
  decoder.restart = restartXz;
  return decoder;
}
