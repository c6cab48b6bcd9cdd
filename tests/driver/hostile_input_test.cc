// Inputs no flight produces, fed to the built program: it must finish
// normally, with memory that follows the longest line rather than the file.
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include "driver/scanfit_process.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryIsMeasurable = false;  // shadow memory and quarantine
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

// Peak resident memory of the largest child process waited for so far.
qint64 childPeakBytes() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return qint64(usage.ru_maxrss) * 1024;
}

TEST(HostileInput, AHugeLineWithoutLineFeedsCostsAboutItsOwnSize) {
  // 256 MiB of blanks around six fields and no line feed at all: one point.
  QTemporaryDir dir;
  constexpr qint64 kLine = qint64(256) << 20;
  {
    QFile file(dir.filePath("huge.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1.5 78.25 15.5 0.5 10 3");
    const QByteArray blanks(1 << 20, ' ');
    for (qint64 written = 0; written < kLine; written += blanks.size())
      file.write(blanks);
  }
  const ProcessResult result = runScanfit({"huge.txt"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "huge.txt open for reading.\n");
  EXPECT_EQ(readFile(dir.filePath("huge_fit.scn")),
            " 1.500000  78.250000   15.500000     0.500  10   3     0.000"
            "     0.000         \n");
  if (kMemoryIsMeasurable) {
    EXPECT_LT(childPeakBytes(), 2 * kLine);
  }
}

TEST(HostileInput, AHugeLineOfOtherCharactersIsHeldOnce) {
  // 120 MiB of two-byte characters and blanks on one rejected line: its
  // message is two thirds as long, yet the line is held once.
  QTemporaryDir dir;
  constexpr qint64 kPairs = qint64(40) << 20;  // "\xC3\xA9 ", one field each
  {
    QFile file(dir.filePath("huge.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("1 2 3 4 5 6\n");
    const QByteArray piece = QByteArray("\xC3\xA9 ").repeated(1 << 20);
    for (qint64 written = 0; written < kPairs; written += 1 << 20)
      file.write(piece);
  }
  const ProcessResult result = runScanfit({"huge.txt"}, dir.path());
  EXPECT_EQ(result.status, 0);
  const QByteArray head = "huge.txt open for reading.\n1 41943040 ";
  EXPECT_EQ(result.err.size(), head.size() + 2 * kPairs + 1);
  EXPECT_TRUE(result.err.startsWith(head));
  EXPECT_TRUE(result.err.endsWith("\xE9 \xE9 \n"));
  if (kMemoryIsMeasurable) {
    EXPECT_LT(childPeakBytes(), 3 * kPairs * 5 / 4);
  }
}

TEST(HostileInput, BinaryGarbageReadAsTextIsRejectedLineByLine) {
  QTemporaryDir dir;
  QByteArray garbage(4 << 20, '\0');
  QRandomGenerator random(17);
  for (char& byte : garbage) byte = char(random.bounded(256));
  writeFile(dir.filePath("garbage.bin"), garbage);
  const ProcessResult result = runScanfit({"garbage.bin"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.err.startsWith("garbage.bin open for reading.\n"));
  // About one text line per 256 bytes, each reported on its own line.
  EXPECT_GT(result.err.count('\n'), garbage.count('\n') / 2);
  EXPECT_EQ(listDir(dir.path()).size(), 6);
}

}  // namespace
