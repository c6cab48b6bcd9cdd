#include "output/output_buffer.h"

#include <unistd.h>

#include <cerrno>

void OutputBuffer::append(const char* bytes, size_t n) {
  pending.append(bytes, n);
}

void OutputBuffer::appendBlock(std::string& bytes) {
  appendBlock(bytes.data(), bytes.size());
  bytes.clear();
}

void OutputBuffer::appendBlock(const char* bytes, size_t n) {
  if (fd >= 0) {
    flush();
    writeOut(bytes, n);
  } else {
    pending.append(bytes, n);
  }
}

void OutputBuffer::flush() {
  if (fd < 0 || pending.empty()) return;
  writeOut(pending.data(), pending.size());
  pending.clear();
}

void OutputBuffer::writeOut(const char* bytes, size_t n) {
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
    n -= static_cast<size_t>(written);
  }
}
