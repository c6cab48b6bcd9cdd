#include "fuzz_input.h"

#include <QIODevice>
#include <QString>
#include <QtGlobal>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Qt warns on its own about some failures; the program drops those
// messages, and so do the targets, which would otherwise flood the log.
void dropQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

bool openMemoryFile(QFile& file, const std::uint8_t* bytes, std::size_t size) {
  static const bool silenced = (qInstallMessageHandler(dropQtMessage), true);
  (void)silenced;
  const int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
  if (fd < 0) return false;
  if (!writeAll(fd, bytes, size) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return false;
  }
  if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                 QFileDevice::AutoCloseHandle)) {
    close(fd);
    return false;
  }
  return true;
}

int openMemoryOutput() { return memfd_create("fuzz-output", MFD_CLOEXEC); }

std::string contentsOf(int fd) {
  std::string bytes;
  if (lseek(fd, 0, SEEK_SET) != 0) return bytes;
  char block[65536];
  for (ssize_t got; (got = read(fd, block, sizeof block)) > 0;)
    bytes.append(block, static_cast<std::size_t>(got));
  return bytes;
}
