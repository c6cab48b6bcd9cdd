// Bytes on their way to one output file. A run hands over each batch's
// rows: large pieces are written as they come, small ones are gathered and
// written in blocks of 64 KiB, so a file gets few large writes. The first
// failing write is kept; nothing is written after it.
#ifndef SCANFIT_OUTPUT_OUTPUT_BUFFER_H_
#define SCANFIT_OUTPUT_OUTPUT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <string>

struct OutputBuffer {
  static constexpr std::size_t kBlockSize = std::size_t(64) << 10;

  int fd = -1;          // the file
  std::string pending;  // small pieces not yet written
  int writeError = 0;   // errno of the write that failed; none after it
  std::uint64_t bytes = 0;  // appended so far

  OutputBuffer() = default;
  explicit OutputBuffer(int target) : fd(target) {}

  // After what is pending, in order.
  void append(const char* bytes, std::size_t n);
  // Write everything pending to the file.
  void flush();

  // Write `n` bytes to the file, retrying short and interrupted writes.
  void writeOut(const char* bytes, std::size_t n);
};

#endif  // SCANFIT_OUTPUT_OUTPUT_BUFFER_H_
