#include "output/output_buffer.h"

#include <cstring>

char* OutputBuffer::reserve(size_t n) {
  const size_t used = pending.size();
  pending.resize(used + n);
  return &pending[used];
}

void OutputBuffer::commit(const char* end) {
  pending.resize(static_cast<size_t>(end - pending.data()));
}

void OutputBuffer::append(const char* bytes, size_t n) {
  std::memcpy(reserve(n), bytes, n);
}

void OutputBuffer::flush() {
  if (!device || pending.empty()) return;
  // A short write is retried: only the failing call leaves the device's
  // error text (for instance "File too large") to report.
  const char* next = pending.data();
  qint64 left = static_cast<qint64>(pending.size());
  while (!writeFailed && left > 0) {
    const qint64 written = device->write(next, left);
    if (written <= 0) {
      writeFailed = true;
      break;
    }
    next += written;
    left -= written;
  }
  pending.clear();
}
