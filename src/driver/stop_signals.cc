#include "driver/stop_signals.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// A run holds at most six named temporaries at once, and the folders it
// made; a few more slots serve programs that make several runs.
constexpr int kSlots = 32;

struct TemporarySlot {
  std::atomic<bool> used{false};
  bool folder = false;
  char path[PATH_MAX];
};

TemporarySlot slots[kSlots];

// What the process is doing, as the handler and the placing agree on it.
enum Phase : int { kRunning, kPlacing, kStopping };
std::atomic<int> phase{kRunning};
// A stop that came while the outputs were put in place.
std::atomic<int> deferredSignal{0};

static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the stop handler needs lock-free atomics");

// The signal's default action, then the signal again: the process ends as
// it would have without a handler. Within a handler the signal is blocked
// until the handler returns, so it is delivered then.
void endAsAsked(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

// Signals whose default action leaves the process running or only stops
// it, and the two that no handler can catch.
bool endsTheProcess(int signal) {
  switch (signal) {
    case SIGKILL: case SIGSTOP:
    case SIGCHLD: case SIGCONT: case SIGURG: case SIGWINCH:
    case SIGTSTP: case SIGTTIN: case SIGTTOU:
      return false;
    default:
      return true;
  }
}

// A fault of the thread's own instruction, not a signal someone sent: it
// comes back as soon as the handler returns, so it can never wait.
bool isFault(int signal, const siginfo_t* info) {
  const bool faultSignal = signal == SIGSEGV || signal == SIGBUS ||
                           signal == SIGILL || signal == SIGFPE ||
                           signal == SIGTRAP || signal == SIGSYS;
  return faultSignal && info != nullptr && info->si_code > 0;
}

void onStop(int signal, siginfo_t* info, void*) {
  int expected = kRunning;
  if (!phase.compare_exchange_strong(expected, kStopping) &&
      !isFault(signal, info)) {
    // Placing: the placing thread ends the process once all is in place.
    // Stopping: another thread's handler is ending it already.
    if (expected == kPlacing) deferredSignal.store(signal);
    return;
  }
  removeTemporaries();
  endAsAsked(signal);
}

bool hasDefaultAction(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 &&
         (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
}

}  // namespace

void removeTemporaries() {
  for (TemporarySlot& slot : slots) {
    if (slot.used.load() && !slot.folder) unlink(slot.path);
  }
  // Folders take the free slots in the order they are made, so the last
  // slot holds the innermost.
  for (int k = kSlots - 1; k >= 0; --k) {
    if (slots[k].used.load() && slots[k].folder) rmdir(slots[k].path);
  }
}

void installStopHandlers() {
  struct sigaction action {};
  action.sa_sigaction = onStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_SIGINFO;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  // Signals 32 and 33 belong to the C library, which refuses them here.
  for (int signal = 1; signal <= SIGRTMAX; ++signal) {
    if (!endsTheProcess(signal) || !hasDefaultAction(signal)) continue;
    sigaction(signal, signal == SIGXFSZ ? &ignore : &action, nullptr);
  }
}

namespace {

int remember(const char* path, bool folder) {
  const size_t length = std::strlen(path);
  if (length >= PATH_MAX) return -1;
  for (int k = 0; k < kSlots; ++k) {
    TemporarySlot& slot = slots[k];
    if (slot.used.load()) continue;
    // One thread makes the temporaries: a free slot stays free until here.
    std::memcpy(slot.path, path, length + 1);
    slot.folder = folder;
    slot.used.store(true);
    return k;
  }
  return -1;
}

}  // namespace

int rememberTemporary(const char* path) { return remember(path, false); }

int rememberFolder(const char* path) { return remember(path, true); }

void forgetTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].used.store(false);
}

void beginPuttingInPlace() {
  int expected = kRunning;
  if (phase.compare_exchange_strong(expected, kPlacing)) return;
  // A handler on another thread is removing the temporaries and ending the
  // process; nothing may be put in place meanwhile.
  for (;;) pause();
}

void endPuttingInPlace() {
  phase.store(kRunning);
  const int signal = deferredSignal.exchange(0);
  if (signal != 0) endAsAsked(signal);
}
