#include "driver/output_file.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

// The mode a file created by open(2) with 0666 would get. umask can only
// be read by setting it, so it is read once and put straight back.
mode_t newFileMode() {
  static const mode_t mask = [] {
    const mode_t old = umask(0);
    umask(old);
    return old;
  }();
  return 0666 & ~mask;
}

// The file an output name stands for: a symbolic link is followed to the
// file it names, which is then replaced, and the link is kept.
std::string targetPath(const QByteArray& path) {
  struct stat link {};
  if (::lstat(path.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* resolved = ::realpath(path.constData(), nullptr)) {
      std::string target(resolved);
      ::free(resolved);
      return target;
    }
  }
  return path.toStdString();
}

}  // namespace

void OutputFile::discard() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  buffer.fd = -1;
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
  tempPath.clear();
}

bool OutputFile::fail(const char* reason) {
  std::cerr << "Cannot write to: " << QFile::encodeName(name).constData()
            << std::endl
            << reason << std::endl;
  discard();
  return false;
}

bool OutputFile::open(const QString& finalName) {
  discard();
  name = finalName;
  finalPath = targetPath(QFile::encodeName(name));
  struct stat existing {};
  const bool exists = ::stat(finalPath.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode))
    return fail("Filename refers to a directory");
  // A file its owner made read-only is not replaced behind their back.
  if (exists && ::access(finalPath.c_str(), W_OK) != 0) {
    const std::string reason = "Existing file " +
                               QFile::encodeName(name).toStdString() +
                               " is not writable";
    return fail(reason.c_str());
  }

  // Beside the final file, so that the rename stays within one file system.
  std::string pattern = finalPath + ".XXXXXX";
  fd = ::mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0) return fail(std::strerror(errno));
  tempPath = pattern;
  buffer = OutputBuffer(fd);

  // A replaced file keeps its permissions; a new one gets what open(2)
  // would have given it, not mkostemp's 0600.
  const mode_t mode = exists ? (existing.st_mode & 07777) : newFileMode();
  return ::fchmod(fd, mode) == 0 || fail(std::strerror(errno));
}

bool OutputFile::flush() {
  buffer.flush();
  return buffer.writeError == 0 || fail(std::strerror(buffer.writeError));
}

bool OutputFile::commit() {
  if (!flush()) return false;
  const int closed = ::close(fd);
  fd = -1;
  buffer.fd = -1;
  // Some file systems report a lost write only when the file is closed.
  if (closed != 0) return fail(std::strerror(errno));
  if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0)
    return fail(std::strerror(errno));
  tempPath.clear();
  return true;
}
