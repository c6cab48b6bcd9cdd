// What the decompressing reader (scan/decompress.h) needs of the library
// of each compression: a state, a call that decompresses what it can from
// the bytes at hand, and a restart for the next member of a file made of
// several (gzip members, bzip2 streams). zstd frames and xz streams follow
// one another inside their libraries. Each library's errors come back as
// its own words.
#ifndef SCANFIT_SCAN_DECODER_H_
#define SCANFIT_SCAN_DECODER_H_

#include <cstddef>
#include <memory>
#include <string>

// One call: bytes from `in` are decompressed to `out`; both are advanced
// past what the call took and gave.
struct DecodeCall {
  const unsigned char* in = nullptr;
  std::size_t inSize = 0;
  unsigned char* out = nullptr;
  std::size_t outSize = 0;
  bool inputEnds = false;  // no compressed bytes come after `in`
};

enum class DecodeStatus {
  Going,         // more to come, or more input needed
  MemberEnded,   // a whole member (or the whole input) is decompressed
  Failed,        // the data are broken: the reason says how
};

struct Decoder {
  // The library's state, released by the library's own call; null when it
  // could not be made (the reason given to the maker says why).
  std::unique_ptr<void, void (*)(void*)> state{nullptr, nullptr};
  DecodeStatus (*decode)(void* state, DecodeCall& call,
                         std::string& reason) = nullptr;
  // Ready for a member after the one that ended; false with a reason.
  bool (*restart)(void* state, std::string& reason) = nullptr;
};

// The most memory a decoder may take, and the largest window (xz
// dictionary, zstd window) that fits: about what xz -8 and zstd --ultra -20
// need. A run stays within 64 MiB with it; an input that needs more is
// refused with the memory it needs.
constexpr std::size_t kDecoderMemoryBytes = std::size_t(33) << 20;
constexpr int kLargestWindowLog = 25;

Decoder makeGzipDecoder(std::string& reason);
Decoder makeZstdDecoder(std::string& reason);
Decoder makeXzDecoder(std::string& reason);
Decoder makeBzip2Decoder(std::string& reason);

#endif  // SCANFIT_SCAN_DECODER_H_
