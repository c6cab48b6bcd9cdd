// Bytes on their way to one output file. Writers append their rows to a
// large buffer, which goes to the device in big blocks: one write per
// megabyte instead of one per row. Without a device the buffer keeps every
// byte, which is how the tests look at a writer's output.
#ifndef SCANFIT_OUTPUT_OUTPUT_BUFFER_H_
#define SCANFIT_OUTPUT_OUTPUT_BUFFER_H_

#include <QIODevice>

#include <cstddef>
#include <string>

struct OutputBuffer {
  static constexpr size_t kBlockSize = size_t(1) << 20;

  QIODevice* device = nullptr;  // null: keep everything in `pending`
  std::string pending;          // formatted bytes not yet written
  bool writeFailed = false;     // a device write came up short

  OutputBuffer() = default;
  explicit OutputBuffer(QIODevice* target) : device(target) {}

  void append(const char* bytes, size_t n);

  // Hands over a large piece and empties it: written straight to the
  // device after what is pending, sparing a copy; kept without a device.
  void appendBlock(std::string& bytes);

  // Hand a full block to the device; cheap to call after every row.
  void flushIfFull() {
    if (device && pending.size() >= kBlockSize) flush();
  }
  // Write everything pending to the device (nothing without a device).
  void flush();

  // Write `n` bytes to the device, retrying short writes.
  void writeToDevice(const char* bytes, size_t n);
};

#endif  // SCANFIT_OUTPUT_OUTPUT_BUFFER_H_
