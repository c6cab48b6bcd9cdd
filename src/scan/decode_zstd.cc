// zstd through libzstd. A file may hold several frames one after another
// (pzstd and `cat a.zst b.zst` write them) and skippable frames, which the
// library takes in its stride. Windows are limited to what scanfit's
// memory allows; zstd's default levels use 8 MiB at most.
#include <zstd.h>
#include <zstd_errors.h>

#include "scan/decoder.h"

namespace {

DecodeStatus decodeZstd(void* opaque, DecodeCall& call, std::string& reason) {
  auto* const context = static_cast<ZSTD_DCtx*>(opaque);
  ZSTD_inBuffer in{call.in, call.inSize, 0};
  ZSTD_outBuffer out{call.out, call.outSize, 0};
  const std::size_t result = ZSTD_decompressStream(context, &out, &in);
  call.in += in.pos;
  call.inSize -= in.pos;
  call.out += out.pos;
  call.outSize -= out.pos;
  if (ZSTD_isError(result)) {
    reason = ZSTD_getErrorName(result);
    if (ZSTD_getErrorCode(result) == ZSTD_error_frameParameter_windowTooLarge)
      reason += ": scanfit decompresses windows of at most " +
                std::to_string((std::size_t(1) << kLargestWindowLog) >> 20) +
                " MiB";
    return DecodeStatus::Failed;
  }
  // 0: a frame is decompressed and all of it handed out.
  return result == 0 ? DecodeStatus::MemberEnded : DecodeStatus::Going;
}

// The next frame starts by itself.
bool restartZstd(void*, std::string&) { return true; }

}  // namespace

Decoder makeZstdDecoder(std::string& reason) {
  Decoder decoder;
  ZSTD_DCtx* const context = ZSTD_createDCtx();
  if (context == nullptr) {
    reason = "Cannot allocate memory";
    return decoder;
  }
  ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kLargestWindowLog);
  decoder.state = {context, [](void* c) { ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(c)); }};
  decoder.decode = decodeZstd;
  decoder.restart = restartZstd;
  return decoder;
}
