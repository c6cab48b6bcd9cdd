// Faults for the end-to-end tests, preloaded into the program under test
// (LD_PRELOAD) and switched on by environment variables:
//   SCANFIT_FAULT_READ_PATH, SCANFIT_FAULT_READ_AFTER=N: reads of that file
//     fail with EIO once N bytes of it have been read, as from a failing
//     disk;
//   SCANFIT_FAULT_READ_PATH, SCANFIT_FAULT_READ_PAUSE_AT=N and
//     SCANFIT_FAULT_READ_PAUSE_MS=M: the read of that file that reaches N
//     bytes waits M milliseconds first, as a slow disk would;
//   SCANFIT_FAULT_THREADS_ALLOWED=N: pthread_create fails with EAGAIN after
//     N threads, as when the system has no more threads to give;
//   SCANFIT_FAULT_SIGNAL_AT_RENAME=S: the first rename sends signal S to the
//     process before it renames, as a stop would that comes while the
//     outputs are put in place;
//   SCANFIT_FAULT_LINK_FAILS_AT=K, SCANFIT_FAULT_RENAME_FAILS_AT=K: the K-th
//     linkat or rename (from 1) fails with EIO;
//   SCANFIT_FAULT_RENAME_PAUSE_AT=K, SCANFIT_FAULT_RENAME_PAUSE_MS=M and
//     SCANFIT_FAULT_RENAME_PAUSE_MARK=PATH: the K-th rename makes the file
//     PATH, then waits M milliseconds, as a slow file system would.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

long long environmentNumber(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::atoll(value) : -1;
}

// The file whose reads fail, by device and inode; false when none is set.
bool isFaultyFile(int fd) {
  static const char* const path = std::getenv("SCANFIT_FAULT_READ_PATH");
  static struct stat faulty {};
  static const bool known = path && stat(path, &faulty) == 0;
  struct stat info {};
  return known && fstat(fd, &info) == 0 && info.st_dev == faulty.st_dev &&
         info.st_ino == faulty.st_ino;
}

std::atomic<long long> bytesRead{0};
std::atomic<long long> threadsCreated{0};
std::atomic<bool> signalled{false};
std::atomic<bool> paused{false};
std::atomic<long long> links{0};
std::atomic<long long> renames{0};

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  static const auto realRead = next<ssize_t (*)(int, void*, size_t)>("read");
  if (!isFaultyFile(fd)) return realRead(fd, buffer, count);
  static const long long after = environmentNumber("SCANFIT_FAULT_READ_AFTER");
  static const long long pauseAt =
      environmentNumber("SCANFIT_FAULT_READ_PAUSE_AT");
  static const long long pauseMs =
      environmentNumber("SCANFIT_FAULT_READ_PAUSE_MS");
  const long long done = bytesRead.load();
  if (after >= 0) {
    const long long left = after - done;
    if (left <= 0) {
      errno = EIO;
      return -1;
    }
    if (static_cast<long long>(count) > left) count = static_cast<size_t>(left);
  }
  if (pauseAt >= 0 && done + static_cast<long long>(count) > pauseAt &&
      !paused.exchange(true))
    usleep(static_cast<useconds_t>(pauseMs * 1000));
  const ssize_t got = realRead(fd, buffer, count);
  if (got > 0) bytesRead += got;
  return got;
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  static const auto realCreate =
      next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>(
          "pthread_create");
  static const long long allowed =
      environmentNumber("SCANFIT_FAULT_THREADS_ALLOWED");
  if (allowed >= 0 && threadsCreated++ >= allowed) return EAGAIN;
  return realCreate(thread, attributes, start, argument);
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to,
                      int flags) {
  static const auto realLink =
      next<int (*)(int, const char*, int, const char*, int)>("linkat");
  if (++links == environmentNumber("SCANFIT_FAULT_LINK_FAILS_AT")) {
    errno = EIO;
    return -1;
  }
  return realLink(fromDir, from, toDir, to, flags);
}

extern "C" int rename(const char* from, const char* to) {
  static const auto realRename = next<int (*)(const char*, const char*)>("rename");
  const long long signal = environmentNumber("SCANFIT_FAULT_SIGNAL_AT_RENAME");
  if (signal > 0 && !signalled.exchange(true)) kill(getpid(), int(signal));
  const long long count = ++renames;
  if (count == environmentNumber("SCANFIT_FAULT_RENAME_PAUSE_AT")) {
    if (const char* mark = std::getenv("SCANFIT_FAULT_RENAME_PAUSE_MARK"))
      close(open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    usleep(useconds_t(environmentNumber("SCANFIT_FAULT_RENAME_PAUSE_MS") * 1000));
  }
  if (count == environmentNumber("SCANFIT_FAULT_RENAME_FAILS_AT")) {
    errno = EIO;
    return -1;
  }
  return realRename(from, to);
}
