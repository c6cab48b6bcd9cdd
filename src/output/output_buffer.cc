#include "output/output_buffer.h"

#include <unistd.h>

#include <cerrno>

void OutputBuffer::append(const char* data, std::size_t n) {
  bytes += n;
  if (n < kBlockSize) {
    pending.append(data, n);
    if (pending.size() >= kBlockSize) flush();
    return;
  }
  flush();
  writeOut(data, n);
}

void OutputBuffer::flush() {
  if (pending.empty()) return;
  writeOut(pending.data(), pending.size());
  pending.clear();
}

void OutputBuffer::writeOut(const char* bytes, std::size_t n) {
  // A short write is retried: only a failing call tells why (for instance
  // EFBIG, "File too large"), and that first error is the one reported.
  while (writeError == 0 && n > 0) {
    const ssize_t written = ::write(fd, bytes, n);
    if (written < 0) {
      if (errno != EINTR) writeError = errno;
      continue;
    }
    // No progress and no error: nothing more fits.
    if (written == 0) {
      writeError = ENOSPC;
      break;
    }
    bytes += written;
    n -= static_cast<std::size_t>(written);
  }
}
