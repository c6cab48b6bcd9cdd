#include "driver/output_file.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>

#include "driver/stop_signals.h"

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

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A short hidden name in `directory`, not yet taken as far as can be told:
// ".sf" and six letters or digits.
std::string hiddenName(const std::string& directory) {
  static std::minstd_rand random(static_cast<unsigned>(
      ::getpid() ^ std::chrono::steady_clock::now().time_since_epoch().count()));
  static const char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = directory + "/.sf";
  for (int k = 0; k < 6; ++k) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

// An unnamed file in `directory`, or -1 with errno set. ENOTSUP says the
// file system has none (or the process cannot name one later).
int openUnnamed(const std::string& directory) {
  // Linking it later goes through /proc/self/fd.
  if (!kUnnamedFiles || ::access("/proc/self/fd", X_OK) != 0) {
    errno = ENOTSUP;
    return -1;
  }
  const int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                        0600);
  // Kernels and file systems without O_TMPFILE answer in one of these ways.
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
    errno = ENOTSUP;
  return fd;
}

}  // namespace

void OutputFile::discard() {
  if (fd >= 0) ::close(fd);
  fd = -1;
  buffer.fd = -1;
  forgetTemporary(tempSlot);
  tempSlot = -1;
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
  directory = directoryOf(finalPath);
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

  fd = openUnnamed(directory);
  unnamed = fd >= 0;
  if (fd < 0 && errno == ENOTSUP) {
    std::string pattern = directory + "/.sfXXXXXX";
    fd = ::mkostemp(&pattern[0], O_CLOEXEC);
    if (fd >= 0) {
      tempPath = pattern;
      tempSlot = rememberTemporary(tempPath.c_str());
    }
  }
  if (fd < 0) return fail(std::strerror(errno));
  buffer = OutputBuffer(fd);

  // A replaced file keeps its permissions; a new one gets what open(2)
  // would have given it.
  const mode_t mode = exists ? (existing.st_mode & 07777) : newFileMode();
  return ::fchmod(fd, mode) == 0 || fail(std::strerror(errno));
}

bool OutputFile::flush() {
  buffer.flush();
  return buffer.writeError == 0 || fail(std::strerror(buffer.writeError));
}

bool OutputFile::link() {
  if (unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; tempPath.empty(); ++attempt) {
      const std::string candidate = hiddenName(directory);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(),
                   AT_SYMLINK_FOLLOW) == 0)
        tempPath = candidate;
      else if (errno != EEXIST || attempt == 100)
        return fail(std::strerror(errno));
    }
  }
  const int closed = ::close(fd);
  fd = -1;
  buffer.fd = -1;
  // Some file systems report a lost write only when the file is closed.
  return closed == 0 || fail(std::strerror(errno));
}

bool OutputFile::place() {
  if (std::rename(tempPath.c_str(), finalPath.c_str()) != 0)
    return fail(std::strerror(errno));
  forgetTemporary(tempSlot);
  tempSlot = -1;
  tempPath.clear();
  return true;
}

bool putInPlace(OutputFile* const* outputs, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    if (!outputs[k]->flush()) return false;
  }
  beginPuttingInPlace();
  bool placed = true;
  for (std::size_t k = 0; k < count && placed; ++k)
    placed = outputs[k]->link();
  for (std::size_t k = 0; k < count && placed; ++k)
    placed = outputs[k]->place();
  // What is not in place goes, before a stop that came meanwhile ends the
  // process.
  if (!placed) {
    for (std::size_t k = 0; k < count; ++k) outputs[k]->discard();
  }
  endPuttingInPlace();
  return placed;
}
