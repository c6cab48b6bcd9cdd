#include "output/output_buffer.h"

void OutputBuffer::append(const char* bytes, size_t n) {
  pending.append(bytes, n);
}

void OutputBuffer::appendBlock(std::string& bytes) {
  if (device) {
    flush();
    writeToDevice(bytes.data(), bytes.size());
  } else {
    pending += bytes;
  }
  bytes.clear();
}

void OutputBuffer::flush() {
  if (!device || pending.empty()) return;
  writeToDevice(pending.data(), pending.size());
  pending.clear();
}

void OutputBuffer::writeToDevice(const char* bytes, size_t n) {
  // A short write is retried: only the failing call leaves the device's
  // error text (for instance "File too large") to report.
  qint64 left = static_cast<qint64>(n);
  while (!writeFailed && left > 0) {
    const qint64 written = device->write(bytes, left);
    if (written <= 0) {
      writeFailed = true;
      break;
    }
    bytes += written;
    left -= written;
  }
}
