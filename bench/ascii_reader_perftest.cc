// Throughput of the ASCII reader on generated flights: the line parser
// alone on a block in memory, and readAscii on a file. Prints its figures;
// exits with status 1 if a read does not give the points it should.
//
//   ascii_reader_perftest [lines]     (default 2000000)
#include "scan/ascii_line_parser.h"
#include "scan/scan_data.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
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
  std::vector<float> c0, c1, c2, c3;
  std::vector<short> c4, c5, c6;
  for (auto* v : {&c0, &c1, &c2, &c3}) v->reserve(std::size_t(lines));
  for (auto* v : {&c4, &c5, &c6}) v->reserve(std::size_t(lines));
  for (const char* columns : {"fresh", "resident"}) {
    for (auto* v : {&c0, &c1, &c2, &c3}) v->clear();
    for (auto* v : {&c4, &c5, &c6}) v->clear();
    std::string messages;
    AsciiLineParser parser({&c0, &c1, &c2, &c3, &c4, &c5, &c6}, &messages);
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t parsed =
        parser.parse(text.data(), text.data() + text.size() - 1, 0, true);
    const double seconds = secondsSince(start);
    // The text ends in a line feed: one empty, rejected line follows.
    if (parsed != lines + 1 || c0.size() != std::size_t(lines)) {
      std::fprintf(stderr, "parser: %lld lines, %zu points; expected %d\n",
                   static_cast<long long>(parsed), c0.size(), lines);
      return false;
    }
    std::printf("parser, %s-column lines, %s columns: %.1f million lines/s, "
                "%.0f MB/s\n",
                sevenColumns ? "seven" : "six", columns, lines / seconds / 1e6,
                double(text.size()) / seconds / 1e6);
  }
  return true;
}

bool timeReadAscii(int lines) {
  QTemporaryDir dir;
  const QString path = dir.filePath("flight.txt");
  const std::string text = flightText(lines, false);
  QFile file(path);
  if (!dir.isValid() || !file.open(QIODevice::WriteOnly) ||
      file.write(text.data(), qint64(text.size())) != qint64(text.size())) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  file.close();
  ScanData data;
  const auto start = std::chrono::steady_clock::now();
  data.openAscii(path);
  std::ostringstream messages;
  const int points = data.readAscii(messages);
  const double seconds = secondsSince(start);
  if (points != lines) {
    std::fprintf(stderr, "readAscii: %d points, expected %d\n", points, lines);
    return false;
  }
  std::printf("readAscii: %d points in %.3f s, %.1f million points/s\n",
              points, seconds, points / seconds / 1e6);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 2000000;
  if (lines <= 0) {
    std::fprintf(stderr, "usage: %s [lines]\n", argv[0]);
    return 2;
  }
  const bool ok = timeParser(lines, false) && timeParser(lines, true) &&
                  timeReadAscii(lines);
  return ok ? 0 : 1;
}
