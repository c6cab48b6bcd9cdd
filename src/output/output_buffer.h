// Bytes on their way to one output file. Writers append their rows to a
// buffer, which goes to the file in blocks: one write per 64 KiB instead
// of one per row, and a buffer small enough to stay in cache. Without a file the buffer keeps every
// byte, which is how the tests look at a writer's output.
#ifndef SCANFIT_OUTPUT_OUTPUT_BUFFER_H_
#define SCANFIT_OUTPUT_OUTPUT_BUFFER_H_

#include <cstddef>
#include <string>

struct OutputBuffer {
  static constexpr size_t kBlockSize = size_t(64) << 10;

  int fd = -1;          // -1: keep everything in `pending`
  std::string pending;  // formatted bytes not yet written
  int writeError = 0;   // errno of the write that failed; none after it

  OutputBuffer() = default;
  explicit OutputBuffer(int target) : fd(target) {}

  void append(const char* bytes, size_t n);

  // Hands over a large piece and empties it: written straight to the file
  // after what is pending, sparing a copy; kept without a file.
  void appendBlock(std::string& bytes);
  void appendBlock(const char* bytes, size_t n);

  // Hand a full block to the file; cheap to call after every row.
  void flushIfFull() {
    if (fd >= 0 && pending.size() >= kBlockSize) flush();
  }
  // Write everything pending to the file (nothing without a file).
  void flush();

  // Write `n` bytes to the file, retrying short and interrupted writes.
  void writeOut(const char* bytes, size_t n);
};

#endif  // SCANFIT_OUTPUT_OUTPUT_BUFFER_H_
