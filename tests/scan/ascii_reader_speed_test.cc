// Throughput of the ASCII reader, printed (not asserted): the line parser
// alone on a block in memory, and readAscii on a file.
#include "scan/ascii_line_parser.h"
#include "scan/ascii_test_util.h"
#include "scan/scan_data.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Six-column lines like a scanner's: time, latitude, longitude, elevation,
// two small integers.
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

TEST(AsciiReaderSpeed, ParserAlone) {
  const int kLines = 2000000;
  for (const bool seven : {false, true}) {
    std::string text = flightText(kLines, seven);
    text.push_back('\0');  // room for a sentinel
    std::vector<float> c0, c1, c2, c3;
    std::vector<short> c4, c5, c6;
    for (auto* v : {&c0, &c1, &c2, &c3}) v->reserve(kLines);
    for (auto* v : {&c4, &c5, &c6}) v->reserve(kLines);
    // First into fresh columns (their pages faulted in as they fill), then
    // again into the same, now resident, columns.
    for (const char* columns : {"fresh", "resident"}) {
      for (auto* v : {&c0, &c1, &c2, &c3}) v->clear();
      for (auto* v : {&c4, &c5, &c6}) v->clear();
      std::string messages;
      AsciiLineParser parser({&c0, &c1, &c2, &c3, &c4, &c5, &c6}, &messages);
      const auto start = std::chrono::steady_clock::now();
      const std::int64_t lines = parser.parse(
          text.data(), text.data() + text.size() - 1, 0, 0, true);
      const double seconds = secondsSince(start);
      EXPECT_EQ(lines, kLines + 1);
      EXPECT_EQ(c0.size(), std::size_t(kLines));
      std::printf("[ info ] parser, %s-column lines, %s columns: %.1f million "
                  "lines/s, %.0f MB/s\n",
                  seven ? "seven" : "six", columns, kLines / seconds / 1e6,
                  double(text.size()) / seconds / 1e6);
    }
  }
}

TEST(AsciiReaderSpeed, ReadAsciiOnAFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const int kLines = 2000000;
  const std::string text = flightText(kLines, false);
  const QString path = writeTestFile(
      dir, "flight.txt", QByteArray(text.data(), qsizetype(text.size())));
  ScanData data;
  const auto start = std::chrono::steady_clock::now();
  data.openAscii(path);
  std::ostringstream messages;
  const int points = data.readAscii(messages);
  const double seconds = secondsSince(start);
  EXPECT_EQ(points, kLines);
  std::printf("[ info ] readAscii: %d points in %.3f s, %.1f million points/s\n",
              points, seconds, points / seconds / 1e6);
}

}  // namespace
