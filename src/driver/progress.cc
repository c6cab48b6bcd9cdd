#include "driver/progress.h"

#include <unistd.h>

#include <cstdio>
#include <ostream>

namespace {

constexpr std::chrono::milliseconds kQuiet{1000};  // no line before this
constexpr std::chrono::milliseconds kRedraw{250};  // nor more often

// "\r" to the line's start, and the terminal's erase to the line's end.
constexpr char kEraseLine[] = "\r\033[K";

double seconds(Progress::Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

Progress::Progress(std::ostream& stream, int fd, std::uint64_t bytes)
    : out(stream), enabled(isatty(fd) == 1), inputBytes(bytes) {}

void Progress::clear() {
  if (!shown) return;
  out << kEraseLine << std::flush;
  shown = false;
}

void Progress::update(std::uint64_t bytesRead, std::int64_t points) {
  const Clock::time_point now = Clock::now();
  if (!enabled || now - start < kQuiet || now - drawn < kRedraw) return;
  drawn = now;
  const double elapsed = seconds(now - start);
  const double rate = double(points) / elapsed / 1e6;
  char line[128];
  if (inputBytes > 0 && bytesRead > 0) {
    const double share = double(bytesRead) / double(inputBytes);
    std::snprintf(line, sizeof line,
                  "scanfit: %.0f%% read, %.1f M points/s, %.0f s left",
                  100 * share, rate, elapsed * (1 - share) / share);
  } else {
    std::snprintf(line, sizeof line, "scanfit: %.0f MB read, %.1f M points/s",
                  double(bytesRead) / 1e6, rate);
  }
  out << kEraseLine << line << std::flush;
  shown = true;
}
