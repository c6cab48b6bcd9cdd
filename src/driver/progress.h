// The status line of a run on a terminal: once a run has taken a second,
// one line on standard error, redrawn in place a few times a second, with
// the share of the input read, points per second and the time left; other
// messages are written above it, and it is erased when the run ends. When
// standard error is not a terminal (a log, a pipe) nothing of it is ever
// written, so those get exactly the run's messages.
#ifndef SCANFIT_DRIVER_PROGRESS_H_
#define SCANFIT_DRIVER_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <iosfwd>

struct Progress {
  using Clock = std::chrono::steady_clock;

  std::ostream& out;
  bool enabled = false;            // `out` goes to a terminal
  std::uint64_t inputBytes = 0;    // 0: not known (a pipe)
  Clock::time_point start = Clock::now();
  Clock::time_point drawn{};       // when the line was last drawn
  bool shown = false;              // the line is on the terminal

  // For standard error, and an input of `inputBytes` (0: not known).
  Progress(std::ostream& stream, int fd, std::uint64_t inputBytes);

  // Erase the line, if shown, so that a message can take its place.
  void clear();
  // Redraw the line, at most four times a second and not in the first one:
  // `bytesRead` of the input read and `points` points done so far.
  void update(std::uint64_t bytesRead, std::int64_t points);
};

#endif  // SCANFIT_DRIVER_PROGRESS_H_
