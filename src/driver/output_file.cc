#include "driver/output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <system_error>
#include <vector>

#include "driver/stop_signals.h"

namespace fs = std::filesystem;

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
// /dev/fd/N lead there), not for a place in a directory; its link is no
// path to follow.
bool inProc(const fs::path& folder) {
  const std::string text = folder.native();
  return text == "/proc" || text.compare(0, 6, "/proc/") == 0;
}

// The folder, its links followed as far as it exists; the rest as written.
fs::path resolvedFolder(const fs::path& folder) {
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(folder, error);
  return error ? folder.lexically_normal() : resolved;
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

bool openStream(OutputFile& out) {
  // Appending: a log that /dev/stderr stands for keeps what it holds.
  const int fd = ::open(out.target.path.c_str(),
                        O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return out.fail(std::strerror(errno));
  out.buffer = OutputBuffer(fd);
  return true;
}

// Runs into one folder take turns at putting their outputs in place. The
// lock goes with the descriptor, so a process that ends however it ends
// lets the next run in. A folder that cannot be opened (one its user may
// not read) is not locked.
struct FolderLock {
  int fd = -1;

  explicit FolderLock(const std::string& folder) {
    fd = ::open(folder.empty() ? "." : folder.c_str(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd >= 0 && ::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() {
    if (fd >= 0) ::close(fd);
  }
};

// The files the outputs replace, held open while the outputs are put in
// place: the rename that takes a file's last name would otherwise free its
// blocks and cached pages there and then, tens of milliseconds for a large
// one with the set half in place. Held, each is freed when closed, after
// the last rename.
struct EarlierFiles {
  std::vector<int> fds;

  EarlierFiles(OutputFile* const* outputs, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
      const OutputTarget& target = outputs[k]->target;
      const int fd = target.stream ? -1
                                   : ::open(target.path.c_str(), O_PATH | O_CLOEXEC);
      if (fd >= 0) fds.push_back(fd);
    }
  }
  EarlierFiles(const EarlierFiles&) = delete;
  EarlierFiles& operator=(const EarlierFiles&) = delete;
  ~EarlierFiles() {
    for (const int fd : fds) ::close(fd);
  }
};

}  // namespace

OutputTarget resolveOutput(const std::string& name) {
  std::error_code error;
  fs::path path = fs::absolute(name, error);
  for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit
    const fs::path folder = resolvedFolder(path.parent_path());
    path = folder / path.filename();
    if (inProc(folder)) return {path.native(), true};
    if (!fs::is_symlink(fs::symlink_status(path, error))) break;
    const fs::path text = fs::read_symlink(path, error);
    if (error) break;
    path = text.is_absolute() ? text : folder / text;
  }
  struct stat info {};
  const bool stream = ::stat(path.c_str(), &info) == 0 &&
                      !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
  return {path.native(), stream};
}

bool sameFile(const OutputTarget& a, const OutputTarget& b) {
  if (a.path == b.path) return true;
  struct stat first {}, second {};
  return ::stat(a.path.c_str(), &first) == 0 &&
         ::stat(b.path.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void OutputFile::discard() {
  if (buffer.fd >= 0) ::close(buffer.fd);
  buffer.fd = -1;
  forgetTemporary(tempSlot);
  tempSlot = -1;
  if (!tempPath.empty()) ::unlink(tempPath.c_str());
  tempPath.clear();
}

bool OutputFile::fail(const char* reason) {
  std::cerr << "Cannot write to: " << name << std::endl << reason << std::endl;
  discard();
  return false;
}

bool OutputFile::open(const std::string& finalName, const OutputTarget& resolved) {
  discard();
  name = finalName;
  target = resolved;
  if (target.stream) return openStream(*this);
  struct stat existing {};
  const bool exists = ::stat(target.path.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode))
    return fail("Filename refers to a directory");
  // A file its owner made read-only is not replaced behind their back.
  if (exists && ::access(target.path.c_str(), W_OK) != 0) {
    const std::string reason = "Existing file " + name + " is not writable";
    return fail(reason.c_str());
  }

  const std::string directory = directoryOf(target.path);
  int fd = openUnnamed(directory);
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

// Renaming over an existing file makes ext4 (auto_da_alloc) write the new
// file's data back inside rename(2): a tenth of a second and more for a
// large output, with the set half in place. Started here, before the first
// link, that write-back is under way when the renames come, and they do
// not wait for it. A new name costs no such wait, and its data is left to
// the kernel's own write-back.
bool OutputFile::startWriteBack() {
  if (target.stream || ::access(target.path.c_str(), F_OK) != 0) return true;
  if (::sync_file_range(buffer.fd, 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return true;
  // Other answers say only that the file system does not take the hint.
  return (errno != EIO && errno != ENOSPC) || fail(std::strerror(errno));
}

bool OutputFile::link() {
  if (unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(buffer.fd);
    const std::string directory = directoryOf(target.path);
    for (int attempt = 0; tempPath.empty(); ++attempt) {
      const std::string candidate = hiddenName(directory);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(),
                   AT_SYMLINK_FOLLOW) == 0)
        tempPath = candidate;
      else if (errno != EEXIST || attempt == 100)
        return fail(std::strerror(errno));
    }
  }
  const int closed = ::close(buffer.fd);
  buffer.fd = -1;
  // Some file systems report a lost write only when the file is closed.
  return closed == 0 || fail(std::strerror(errno));
}

bool OutputFile::place() {
  if (target.stream) return true;
  if (std::rename(tempPath.c_str(), target.path.c_str()) != 0)
    return fail(std::strerror(errno));
  forgetTemporary(tempSlot);
  tempSlot = -1;
  tempPath.clear();
  return true;
}

bool putInPlace(OutputFile* const* outputs, std::size_t count,
                const std::string& folder) {
  for (std::size_t k = 0; k < count; ++k) {
    if (!outputs[k]->flush()) return false;
  }
  for (std::size_t k = 0; k < count; ++k) {
    if (!outputs[k]->startWriteBack()) return false;
  }
  const EarlierFiles earlier(outputs, count);
  // Taken before the stop is deferred: a run that waits for another one
  // can still be stopped.
  const FolderLock lock(folder);
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
