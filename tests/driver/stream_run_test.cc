// The streaming run in blocks of a few dozen scan lines, on two threads and
// on one: the threshold T is carried from line to line in input order
// whatever order the batches reach the stages in. The sanitizer build
// hands batches on out of order (SCANFIT_BATCHES_OUT_OF_ORDER), so a
// carrying stage that took them as they came would give other bytes there.
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <unistd.h>

#include <random>
#include <sstream>
#include <string>

#include "driver/stream_run.h"
#include "fuzz_input.h"

namespace {

// Scan lines of 30 points, which set T (about half their residuals are
// negative), each followed by one of 12 points, which keeps the T before
// it and loses the points more than T above its first fit: its fit
// depends on the line before. Elevations are random.
QByteArray alternatingLines(int pairs) {
  std::mt19937 random(20);
  std::uniform_real_distribution<double> noise(-5.0, 5.0);
  QByteArray text;
  for (int line = 0; line < 2 * pairs; ++line) {
    const int points = line % 2 == 0 ? 30 : 12;
    for (int i = 0; i < points; ++i)
      text += QByteArray::number(1.0 + line * 1e-4, 'f', 6) + " 45.0 " +
              QByteArray::number(7.0 + i * 1e-4, 'f', 6) + " " +
              QByteArray::number(100.0 + noise(random), 'f', 3) + " 0 " +
              QByteArray::number(i + 1) + "\n";
  }
  return text;
}

// The five outputs of a streamed run of `path` in blocks of `blockBytes`.
std::string streamed(const QString& path, std::size_t blockBytes, int threads) {
  InputReader reader;
  reader.file.setFileName(path);
  EXPECT_TRUE(reader.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
  reader.blockBytes = blockBytes;
  OutputBuffer buffers[5];
  for (OutputBuffer& buffer : buffers) buffer.fd = openMemoryOutput();
  std::ostringstream messages;
  RunTotals totals;
  const StreamResult result = streamRun(
      reader, {&buffers[0], &buffers[1], &buffers[2], &buffers[3], &buffers[4]},
      messages, threads, nullptr, totals);
  EXPECT_EQ(result.end, StreamEnd::kWhole);
  std::string outputs;
  for (OutputBuffer& buffer : buffers) {
    buffer.flush();
    outputs += contentsOf(buffer.fd) + "\n--\n";
    close(buffer.fd);
  }
  return outputs;
}

TEST(StreamRun, CarriesTheThresholdInInputOrderOnAnyNumberOfThreads) {
  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  file.write(alternatingLines(1500));
  file.flush();
  const std::string oneThread = streamed(file.fileName(), 8192, 1);
  EXPECT_EQ(streamed(file.fileName(), 8192, 2), oneThread);
  EXPECT_EQ(streamed(file.fileName(), 1 << 20, 2), oneThread);
}

}  // namespace
