// Throughput of the ASCII line parser alone, on generated flight lines in
// memory, on one thread. Prints its figures; exits with status 1 if a
// parse does not give the points it should.
//
//   ascii_reader_perftest [lines]     (default 2000000)
#include "scan/ascii_line_parser.h"
#include "scan/rejected_lines.h"
#include "scan/scan_data.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

// Lines like a scanner's: time, latitude, longitude, elevation, two small
// integers, and a seventh column on request.
std::string flightText(int lines, bool sevenColumns) {
  std::mt19937 rng(5);
  std::string text;
  text.reserve(std::size_t(lines) * 56);
  char line[128];
  double time = 10.0;
  for (int i = 0; i < lines; ++i) {
    time += 1e-6;
    const int n = std::snprintf(
        line, sizeof line, "%.7f %.7f %.7f %.3f %d %d", time,
        70.0 + (rng() % 1000000) * 1e-7, -45.0 - (rng() % 1000000) * 1e-7,
        (int(rng() % 20000) - 1000) * 1e-3, int(rng() % 256), i % 250);
    text.append(line, std::size_t(n));
    if (sevenColumns) text += " 3";
    text += '\n';
  }
  return text;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

// The parser on the whole text at once: first into fresh columns (their
// pages faulted in as they fill), then again into the same, now resident,
// columns.
bool timeParser(int lines, bool sevenColumns) {
  std::string text = flightText(lines, sevenColumns);
  text.push_back('\0');  // room for the parser's sentinel
  ScanData points;
  forEachPointColumn(
      [&](auto column) { (points.*column).reserve(std::size_t(lines)); });
  for (const char* columns : {"fresh", "resident"}) {
    points.clear();
    RejectedLines rejected;
    AsciiLineParser parser(points, rejected);
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t parsed =
        parser.parse(text.data(), text.data() + text.size() - 1, 0, true);
    const double seconds = secondsSince(start);
    // The text ends in a line feed: one empty, rejected line follows.
    if (parsed != lines + 1 || points.pointCount() != std::size_t(lines)) {
      std::fprintf(stderr, "parser: %lld lines, %zu points; expected %d\n",
                   static_cast<long long>(parsed), points.pointCount(), lines);
      return false;
    }
    std::printf("parser, %s-column lines, %s columns: %.1f million lines/s, "
                "%.0f MB/s\n",
                sevenColumns ? "seven" : "six", columns, lines / seconds / 1e6,
                double(text.size()) / seconds / 1e6);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 2000000;
  if (lines <= 0) {
    std::fprintf(stderr, "usage: %s [lines]\n", argv[0]);
    return 2;
  }
  const bool ok = timeParser(lines, false) && timeParser(lines, true);
  return ok ? 0 : 1;
}
