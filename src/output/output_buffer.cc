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
  const qint64 size = static_cast<qint64>(pending.size());
  if (!writeFailed && device->write(pending.data(), size) != size)
    writeFailed = true;
  pending.clear();
}
