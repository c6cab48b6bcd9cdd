#include "driver/output_file.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <limits.h>
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

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A name in /proc stands for an open file of a process (/dev/stdout and
// /dev/fd/N lead there), not for a place in a directory.
bool inProc(const std::string& path) {
  char* folder = ::realpath(directoryOf(path).c_str(), nullptr);
  const bool proc = folder != nullptr && (std::strcmp(folder, "/proc") == 0 ||
                                          std::strncmp(folder, "/proc/", 6) == 0);
  ::free(folder);
  return proc;
}

// What an output name stands for. Symbolic links are followed to the name
// they give, which is then written: the link is kept, and a link to a file
// not there yet makes that file. A name that leads to a device, a FIFO, a
// socket or an open file of the process is a stream, written as the run
// goes and never replaced: /dev/null stays a device, /dev/stdout reaches
// the pipe or the log it stands for.
struct OutputTarget {
  std::string path;
  bool stream = false;
};

OutputTarget targetOf(const QByteArray& name) {
  OutputTarget target{name.toStdString()};
  for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit
    if (inProc(target.path)) {
      target.stream = true;
      return target;
    }
    struct stat link {};
    if (::lstat(target.path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) break;
    std::string text(PATH_MAX, '\0');
    const ssize_t length = ::readlink(target.path.c_str(), &text[0], text.size());
    if (length <= 0) break;
    text.resize(std::size_t(length));
    target.path = text[0] == '/' ? text : directoryOf(target.path) + "/" + text;
  }
  struct stat info {};
  target.stream = ::stat(target.path.c_str(), &info) == 0 &&
                  !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
  return target;
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
  const OutputTarget target = targetOf(QFile::encodeName(name));
  finalPath = target.path;
  directory = directoryOf(finalPath);
  stream = target.stream;
  if (stream) return openStream();
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

bool OutputFile::openStream() {
  // Appending: a log that /dev/stderr stands for keeps what it holds.
  fd = ::open(finalPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(std::strerror(errno));
  buffer = OutputBuffer(fd);
  return true;
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
  if (stream) return true;
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
