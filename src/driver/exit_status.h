// How a run ends, as its caller sees it. A run that a signal stops ends by
// that signal instead (stop_signals.h), which a shell shows as 128 plus
// its number.
#ifndef SCANFIT_DRIVER_EXIT_STATUS_H_
#define SCANFIT_DRIVER_EXIT_STATUS_H_

enum class ExitStatus : int {
  kSuccess = 0,
  // Every failure: what the process returns as -1, which a shell shows as
  // 255.
  kFailure = 255,
};

inline int exitCode(ExitStatus status) { return static_cast<int>(status); }

#endif  // SCANFIT_DRIVER_EXIT_STATUS_H_
