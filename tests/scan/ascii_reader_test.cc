// Named cases of the ASCII scanner file reader: observed Qt 6 facts, the
// form and rejection rules, the one place where the reader mends Qt's
// reading path, and long lines and large files, each with
// its expected result and against a reference reading path.
#include "scan/input_reader.h"
#include "scan/ascii_test_util.h"
#include "scan/qt_reference_reader.h"
#include "scan/scan_data.h"
#include "staged_read.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "test_scale.h"

namespace {

class AsciiReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  // Reads `bytes` in blocks and requires the reference's result too.
  AsciiReadResult read(const QByteArray& bytes) {
    EXPECT_TRUE(readsLikeQt(dir_, bytes, {1, 5, 64}));
    return readInBlocks(writeTestFile(dir_, "named.txt", bytes));
  }

  QTemporaryDir dir_;
};

std::uint32_t bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

TEST_F(AsciiReaderTest, SixColumnLines) {
  const AsciiReadResult r =
      read("10.5 70.25 -45.125 12.5 3 17\n11 71 -46 13 4 18");
  EXPECT_FALSE(r.sevenColumns);
  EXPECT_EQ(r.lineCount, 2);
  EXPECT_EQ(r.badLineCount, 0);
  EXPECT_EQ(r.messages, "");
  EXPECT_EQ(r.col0, (std::vector<float>{10.5f, 11.0f}));
  EXPECT_EQ(r.latitude, (std::vector<float>{70.25f, 71.0f}));
  EXPECT_EQ(r.longitude, (std::vector<float>{-45.125f, -46.0f}));
  EXPECT_EQ(r.elevation, (std::vector<float>{12.5f, 13.0f}));
  EXPECT_EQ(r.col4, (std::vector<short>{3, 4}));
  EXPECT_EQ(r.sweepIndex, (std::vector<short>{17, 18}));
}

TEST_F(AsciiReaderTest, TrailingLineFeedGivesRejectedEmptyLine) {
  const AsciiReadResult r = read("1 2 3 4 5 6\n1 2 3 4 5 7\n");
  EXPECT_EQ(r.lineCount, 3);
  EXPECT_EQ(r.badLineCount, 1);
  EXPECT_EQ(r.messages, "2 1 \n");
  EXPECT_EQ(r.col0.size(), 2u);
}

TEST_F(AsciiReaderTest, EmptyFileIsOneEmptyLine) {
  const AsciiReadResult r = read("");
  EXPECT_EQ(r.lineCount, 1);
  EXPECT_EQ(r.badLineCount, 1);
  EXPECT_EQ(r.messages, "0 1 \n");
  EXPECT_TRUE(r.col0.empty());
}

TEST_F(AsciiReaderTest, FirstLineOfSevenFieldsThenSixFieldLines) {
  const AsciiReadResult r = read("1 2 3 4 5 6 7\n1 2 3 4 5 6\n8 9 10 11 12 13");
  EXPECT_TRUE(r.sevenColumns);
  EXPECT_EQ(r.lineCount, 3);
  EXPECT_EQ(r.badLineCount, 2);
  EXPECT_EQ(r.messages, "1 6 1 2 3 4 5 6\n2 6 8 9 10 11 12 13\n");
  EXPECT_EQ(r.col0, std::vector<float>{1.0f});
  EXPECT_EQ(r.col6, std::vector<short>{7});
}

TEST_F(AsciiReaderTest, ThreeWordHeaderThenSixColumnLines) {
  const AsciiReadResult r = read(
      "time lat lon\n1 2 3 4 5 6\n1 2 3 4 5 6 7\n2 3 4 5 6 7\n");
  EXPECT_FALSE(r.sevenColumns);
  EXPECT_EQ(r.lineCount, 5);
  EXPECT_EQ(r.badLineCount, 3);
  EXPECT_EQ(r.messages,
            "0 3 time lat lon\n2 7 1 2 3 4 5 6 7\n4 1 \n");
  EXPECT_EQ(r.col0, (std::vector<float>{1.0f, 2.0f}));
}

TEST_F(AsciiReaderTest, SevenWordHeaderInSevenColumnFileIsAPointOfZeros) {
  const AsciiReadResult r = read("a b c d e f g\n1 2 3 4 5 6 7");
  EXPECT_TRUE(r.sevenColumns);
  EXPECT_EQ(r.badLineCount, 0);
  ASSERT_EQ(r.col0.size(), 2u);
  EXPECT_EQ(bits(r.col0[0]), 0u);
  EXPECT_EQ(r.col4[0], 0);
  EXPECT_EQ(r.col6, (std::vector<short>{0, 7}));
}

TEST_F(AsciiReaderTest, LineWithTooManyFieldsIsRejectedWhole) {
  const AsciiReadResult r =
      read("1 2 3 4 5 6\n1 2 3 4 5 6 7\n1 2 3 4 5 6 7 8");
  EXPECT_EQ(r.badLineCount, 2);
  EXPECT_EQ(r.messages, "1 7 1 2 3 4 5 6 7\n2 8 1 2 3 4 5 6 7 8\n");
  EXPECT_EQ(r.col0.size(), 1u);
  EXPECT_TRUE(r.col6.empty());
}

TEST_F(AsciiReaderTest, TabsAndRunsOfBlanksSeparateFields) {
  const AsciiReadResult r =
      read("\t1\t\t2   3 \t4\v5\f6  \n1 2 3 4 5\t");
  EXPECT_EQ(r.col0, std::vector<float>{1.0f});
  EXPECT_EQ(r.sweepIndex, std::vector<short>{6});
  // The message shows the line unsimplified.
  EXPECT_EQ(r.messages, "1 5 1 2 3 4 5\t\n");
}

TEST_F(AsciiReaderTest, SweepFieldAboveShortRangeStoresZero) {
  const AsciiReadResult r = read("1 2 3 4 5 40000\n1 2 3 4 32767 -32768");
  EXPECT_EQ(r.sweepIndex, (std::vector<short>{0, -32768}));
  EXPECT_EQ(r.col4, (std::vector<short>{5, 32767}));
}

TEST_F(AsciiReaderTest, LineStartExample) {
  const QString path = writeTestFile(dir_, "sweeps.txt",
                                     "0 0 0 0 0 1\n0 0 0 0 0 2\n0 0 0 0 0 3\n"
                                     "0 0 0 0 0 1\n0 0 0 0 0 2\n0 0 0 0 0 2\n"
                                     "0 0 0 0 0 5");
  InputReader reader;
  openTextInput(reader, path);
  ScanData data = readInStages(reader).points;
  EXPECT_FALSE(data.sevenColumns);
  data.segmentScanLines();
  EXPECT_EQ(data.lineStart, (std::vector<int>{0, 3, 5}));
}

// Observed Qt 6.4 facts.

TEST_F(AsciiReaderTest, CarriageReturnsVanishEverywhere) {
  const AsciiReadResult r =
      read("1\r2 2 3 4 5 6\r\n\r1 2 3 4 5 6 \r\r\n1 2 3\r\n\r");
  EXPECT_EQ(r.col0, (std::vector<float>{12.0f, 1.0f}));
  EXPECT_EQ(r.lineCount, 4);
  EXPECT_EQ(r.messages, "2 3 1 2 3\n3 1 \n");
  // They vanish after decoding: one inside a UTF-8 sequence still breaks
  // it, into two U+FFFD.
  EXPECT_EQ(read("1 2 3 4 5 6\nx\xC3\r\xA9y").messages, "1 1 x??y\n");
}

TEST_F(AsciiReaderTest, Utf8ByteOrderMarkIsSkipped) {
  const AsciiReadResult r = read("\xEF\xBB\xBF" "1 2 3 4 5 6\nx");
  EXPECT_EQ(r.col0, std::vector<float>{1.0f});
  EXPECT_EQ(r.messages, "1 1 x\n");
  // Only the first one: a second mark is a character of the line.
  const AsciiReadResult r2 = read("\xEF\xBB\xBF\xEF\xBB\xBF" "1 2 3 4 5 6");
  EXPECT_EQ(r2.col0, std::vector<float>{0.0f});
}

TEST_F(AsciiReaderTest, Utf16AndUtf32FilesAreDecodedWhole) {
  const QString text = QStringLiteral("1 2 3 4 5 6\r\n7.5 8 9 10 11 12\nbad\n");
  QByteArray le("\xFF\xFE", 2), be("\xFE\xFF", 2);
  for (const QChar c : text) {
    le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
  }
  for (const QByteArray& bytes : {le, be}) {
    const AsciiReadResult r = read(bytes);
    EXPECT_EQ(r.col0, (std::vector<float>{1.0f, 7.5f}));
    EXPECT_EQ(r.messages, "2 1 bad\n3 1 \n");
  }
  QByteArray le32("\xFF\xFE\0\0", 4);
  for (const QChar c : text)
    le32.append(char(c.unicode())).append(QByteArray(3, '\0'));
  const AsciiReadResult r = read(le32);
  EXPECT_EQ(r.col0, (std::vector<float>{1.0f, 7.5f}));
}

TEST_F(AsciiReaderTest, UnicodeSpacesSeparateButNotInformationSeparators) {
  // U+00A0, U+2003 and U+3000 are white space to simplified().
  const AsciiReadResult r = read(
      "1\xC2\xA0" "2\xE2\x80\x83" "3\xE3\x80\x80" "4 5 6\n"
      "1\x1C" "2 3 4 5 6\n1 2 3 4 5\x1F");
  EXPECT_EQ(r.col0, std::vector<float>{1.0f});
  EXPECT_EQ(r.latitude, std::vector<float>{2.0f});
  // 0x1C..0x1F are not white space: they join fields.
  EXPECT_EQ(r.messages, "1 5 1\x1C" "2 3 4 5 6\n2 5 1 2 3 4 5\x1F\n");
}

TEST_F(AsciiReaderTest, MessagesPrintLatin1AndQuestionMarks) {
  // é is Latin-1; U+3000 and invalid bytes (U+FFFD) print as "?".
  const AsciiReadResult r =
      read("1 2 3 4 5 6\n\xC3\xA9t\xC3\xA9\n\xE2\x82\xAC \xFF\x80 \xE3\x80\x80x");
  EXPECT_EQ(r.messages, "1 1 \xE9t\xE9\n2 3 ? ?? ?x\n");
}

TEST_F(AsciiReaderTest, UnfinishedSequenceAtTheEndIsDropped) {
  // QTextStream never flushes its decoder: the bytes of an unfinished UTF-8
  // sequence at the end of the input vanish; elsewhere they are U+FFFD.
  EXPECT_EQ(read("1 2 3 4 5 6\nab\xC3").messages, "1 1 ab\n");
  EXPECT_EQ(read("1 2 3 4 5 6\nab\xF0\x9F\x98").messages, "1 1 ab\n");
  EXPECT_EQ(read("1 2 3 4 5 6\nab\xC3\n").messages, "1 1 ab?\n2 1 \n");
  EXPECT_EQ(read("\xEF\xBB").messages, "0 1 \n");
  EXPECT_EQ(read("\xEF\xBB\xBF").messages, "0 1 \n");
}

TEST_F(AsciiReaderTest, MessageTextEndsAtNul) {
  const AsciiReadResult r =
      read(QByteArray("1 2 3 4 5 6\nab\0cd ef\n", 21));
  EXPECT_EQ(r.messages, std::string("1 2 ab\n2 1 \n"));
}

TEST_F(AsciiReaderTest, FloatFormsOfToFloat) {
  const AsciiReadResult r = read(
      "inf nan +1.5 .5 5. -0\n"
      "1,5 0x10 1e39 1e-50 3.4028235e38 3.4028234e38\n"
      "-inf INF -nan 1e-45 7e-46 +0\n");
  ASSERT_EQ(r.col0.size(), 3u);
  EXPECT_EQ(r.col0[0], std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(r.latitude[0]));
  EXPECT_EQ(r.longitude[0], 1.5f);
  EXPECT_EQ(r.elevation[0], 0.5f);
  EXPECT_EQ(r.col4[0], 0);  // "5." is a float, not a short
  EXPECT_EQ(r.sweepIndex[0], 0);
  for (const float rejected :
       {r.col0[1], r.latitude[1], r.longitude[1], r.elevation[1]})
    EXPECT_EQ(bits(rejected), 0u);
  EXPECT_EQ(r.col0[2], -std::numeric_limits<float>::infinity());
  EXPECT_EQ(r.latitude[2], std::numeric_limits<float>::infinity());
  EXPECT_EQ(bits(r.longitude[2]), 0u);  // "-nan" fails
  EXPECT_EQ(bits(r.elevation[2]), 1u);  // the smallest subnormal
}

TEST_F(AsciiReaderTest, NegativeZeroKeepsItsSign) {
  const AsciiReadResult r = read("-0 -0.0 -0e5 +0 1 2");
  EXPECT_EQ(bits(r.col0[0]), 0x80000000u);
  EXPECT_EQ(bits(r.latitude[0]), 0x80000000u);
  EXPECT_EQ(bits(r.longitude[0]), 0x80000000u);
  EXPECT_EQ(bits(r.elevation[0]), 0u);
}

TEST_F(AsciiReaderTest, ShortFormsOfToShort) {
  const AsciiReadResult r = read(
      "0 0 0 0 +5 010\n0 0 0 0 32768 5.0\n0 0 0 0 -32768 -0\n");
  EXPECT_EQ(r.col4, (std::vector<short>{5, 0, -32768}));
  EXPECT_EQ(r.sweepIndex, (std::vector<short>{10, 0, 0}));
}

TEST_F(AsciiReaderTest, SevenColumnFormReadsTheSeventhField) {
  const AsciiReadResult r =
      read("1 2 3 4 5 6 7\n1 2 3 4 5 6 -8\n1 2 3 4 5 6 99999\n");
  EXPECT_EQ(r.col6, (std::vector<short>{7, -8, 0}));
}

// QTextStream decodes in raw chunks of 16384 bytes, and after an
// unfinished UTF-8 sequence at a chunk's end Qt 6.4 swallows the next
// chunk's first byte. Here that byte is a line feed: the literal Qt path
// joins two point lines into one of 11 fields and rejects it, losing both
// points. The reader keeps both lines and both points, as a decoder fed the
// whole input gives them.
TEST_F(AsciiReaderTest, LineFeedAfterUnfinishedSequenceAtChunkEdgeIsKept) {
  QByteArray bytes;
  int lines = 0;
  for (; bytes.size() < 16384 - 40; ++lines) bytes += "1 2 3 4 5 6\n";
  // Blanks lead the next line so that its stray 0xC3 ends the first chunk.
  const QByteArray blanks(16383 - 17 - bytes.size(), ' ');
  bytes += blanks + "10 70 -45 12 3 17\xC3\n11 71 -46 13 4 18";
  ASSERT_EQ(bytes.indexOf('\xC3'), 16383);

  const AsciiReadResult r = readInBlocks(writeTestFile(dir_, "edge.txt", bytes));
  EXPECT_EQ(r.lineCount, lines + 2);
  EXPECT_EQ(r.badLineCount, 0);
  ASSERT_EQ(r.col0.size(), std::size_t(lines) + 2);
  EXPECT_EQ(r.col0[lines], 10.0f);
  EXPECT_EQ(r.sweepIndex[lines], 0);  // "17\uFFFD" is no short
  EXPECT_EQ(r.col0[lines + 1], 11.0f);
  EXPECT_EQ(r.sweepIndex[lines + 1], 18);
  EXPECT_TRUE(readsLike(readWithWholeDecodingReference, dir_, bytes,
                        {1, 16384, 16385}));

  const AsciiReadResult qt =
      readWithQtReference(writeTestFile(dir_, "edge.txt", bytes));
  EXPECT_EQ(qt.lineCount, lines + 1);
  EXPECT_EQ(qt.badLineCount, 1);
  EXPECT_EQ(qt.col0.size(), std::size_t(lines));
  EXPECT_EQ(qt.messages, std::to_string(lines) + " 11 " + blanks.toStdString() +
                             "10 70 -45 12 3 17?11 71 -46 13 4 18\n");
}

TEST_F(AsciiReaderTest, PipeInput) {
  // A pipe has no size and delivers its bytes in pieces.
  const QString fifo = dir_.filePath("pipe");
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QByteArray bytes;
  for (int i = 0; bytes.size() < 300000; ++i) {
    bytes += QByteArray::number(i) + " 70.5 -45.25 \t12.125 3 " +
             QByteArray::number(i % 200);
    if (i % 97 == 0) bytes += " 8";
    if (i % 89 == 0) bytes += " \xC3\xA9";
    bytes += i % 13 == 0 ? "\r\n" : "\n";
  }
  std::thread writer([&] {
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
    for (qsizetype at = 0; fd >= 0 && at < bytes.size(); at += 1000) {
      const qsizetype n = std::min<qsizetype>(1000, bytes.size() - at);
      if (::write(fd, bytes.constData() + at, std::size_t(n)) != n) break;
    }
    if (fd >= 0) ::close(fd);
  });
  const AsciiReadResult r = readInBlocks(fifo);
  writer.join();
  const AsciiReadResult expected =
      readWithQtReference(writeTestFile(dir_, "same.txt", bytes));
  EXPECT_TRUE(sameRead(expected, r));
  EXPECT_GT(r.col0.size(), 5000u);
}

TEST_F(AsciiReaderTest, LineLongerThanABlock) {
  QByteArray bytes = "1 2 3 4 5 6\n";
  bytes += QByteArray(5 << 20, '7') + " 2 3 4 5 6\n";
  bytes += QByteArray(2 << 20, ' ') + "\n";
  bytes += "3 2 3 4 5 6\n" + QByteArray(1 << 20, 'z');
  const QString path = writeTestFile(dir_, "long.txt", bytes);
  const AsciiReadResult expected = readWithQtReference(path);
  for (const std::size_t blockSize : {std::size_t(1) << 16,
                                      std::size_t(1000003)}) {
    EXPECT_TRUE(sameRead(expected, readInBlocks(path, blockSize)))
        << blockSize;
  }
  EXPECT_TRUE(sameRead(expected, readInBlocks(path)));
  EXPECT_EQ(expected.col0.size(), 3u);
}

// Lines of a megabyte and more that are not plain are decoded a piece at a
// time and their messages written over their own bytes: characters of
// every length, invalid bytes, carriage returns and a NUL must land where
// decoding each line whole puts them.
TEST_F(AsciiReaderTest, LongLinesThatAreNotPlainReadAsWhole) {
  const QByteArray piece("x \xE2\x82\xAC\xC3\xA9\r7 \xC3 \xF0\x9F\x98\x80 ab");
  const QByteArray longText = piece.repeated((3 << 20) / piece.size());
  QByteArray bytes = "1 2 3 4 5 6\n";
  bytes += longText + "\n";                              // rejected
  bytes += longText + QByteArray(1, '\0') + "tail\r\n";  // message ends at NUL
  bytes += "\xC3\xA9" + QByteArray(3 << 20, 'y') + " 2 3 4 5 6\n";  // a point
  bytes += longText;                                      // the last line
  const QString path = writeTestFile(dir_, "long.txt", bytes);
  const AsciiReadResult expected = readWithWholeDecodingReference(path);
  ASSERT_EQ(expected.badLineCount, 3);
  ASSERT_EQ(expected.col0.size(), 2u);
  for (const std::size_t blockSize : {std::size_t(1000), kInputBlockBytes}) {
    EXPECT_TRUE(sameRead(expected, readInBlocks(path, blockSize))) << blockSize;
  }
}

TEST_F(AsciiReaderTest, FileOfSeveralBlocks) {
  // Many blocks of the sizes below, with a sprinkling of lines that
  // take Qt's path, CRs and rejected lines.
  QByteArray bytes;
  const int size = generatedCases(8) * (21 << 17);
  bytes.reserve(size);
  std::uint32_t state = 12345;
  int i = 0;
  while (bytes.size() < size) {
    state = state * 1664525u + 1013904223u;
    ++i;
    bytes += QByteArray::number(i * 0.001, 'f', 4) + ' ' +
             QByteArray::number(70 + (state % 100000) * 1e-5, 'f', 7) + ' ' +
             QByteArray::number(-45 - (state >> 20) * 1e-6, 'f', 7) + ' ' +
             QByteArray::number(int(state % 20000) - 5000) + ".25 " +
             QByteArray::number(state % 7) + ' ' +
             QByteArray::number(i % 250);
    switch (state >> 27) {
      case 0: bytes += " 8"; break;            // rejected
      case 1: bytes += "\xC2\xA0"; break;      // Qt's path
      case 2: bytes += '\r'; break;
      case 3: bytes += "\xC3"; break;          // invalid UTF-8
      default: break;
    }
    bytes += '\n';
  }
  EXPECT_TRUE(readsLikeQt(dir_, avoidingChunkEdgeFault(bytes),
                         {kInputBlockBytes, std::size_t(1) << 20, 65536 + 7}));
}

}  // namespace
