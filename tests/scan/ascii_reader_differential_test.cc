// The ASCII reader against the literal Qt reference on many generated
// inputs: equal columns (float bits), counters, form and messages.
#include "scan/ascii_test_util.h"
#include "scan/qt_reference_reader.h"
#include "scan/text_generators.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include "test_scale.h"

namespace {

QByteArray bytesOf(const std::string& s) {
  return QByteArray(s.data(), qsizetype(s.size()));
}

TEST(AsciiReaderDifferential, GeneratedInputs) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineGenerator gen(4242);
  const std::size_t kBlockSizes[] = {1, 2, 3, 5, 16, 64, 1000, 16384};
  int failures = 0;
  for (int file = 0; file < generatedCases(1500) && failures < 5; ++file) {
    const QByteArray bytes =
        avoidingChunkEdgeFault(bytesOf(gen.input(1 + gen.below(40))));
    const std::size_t blockSize = kBlockSizes[gen.below(8)];
    const ::testing::AssertionResult r = readsLikeQt(dir, bytes, {blockSize});
    if (!r) {
      ++failures;
      ADD_FAILURE() << "input " << file << " (" << bytes.size()
                    << " bytes, hex " << bytes.toHex().constData()
                    << "): " << r.message();
    }
  }
}

TEST(AsciiReaderDifferential, GeneratedLinesOneByOne) {
  // Each generated line alone, and after a six- and a seven-field line.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineGenerator gen(99);
  int failures = 0;
  for (int i = 0; i < generatedCases(1500) && failures < 5; ++i) {
    const std::string line = gen.line();
    for (const std::string& bytes :
         {line, "1 2 3 4 5 6\n" + line, "1 2 3 4 5 6 7\n" + line + "\n"}) {
      const ::testing::AssertionResult r =
          readsLikeQt(dir, bytesOf(bytes), {3});
      if (!r) {
        ++failures;
        ADD_FAILURE() << "hex " << bytesOf(bytes).toHex().constData() << ": "
                      << r.message();
      }
    }
  }
}

// Inputs where odd bytes (parts of UTF-8 sequences, line feeds, carriage
// returns) sit right at the edges of QTextStream's 16384-byte chunks, where
// its decoder may swallow a byte: the reader must read them as if decoded
// in one piece, whatever its own block size.
TEST(AsciiReaderDifferential, ChunkEdges) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineGenerator gen(7);
  const std::size_t kBlockSizes[] = {1, 100, 5000, 16384, 16385, 65536};
  int failures = 0;
  int faulted = 0;  // inputs where the literal Qt path loses a byte
  for (int file = 0; file < generatedCases(400) && failures < 5; ++file) {
    std::string text;
    if (gen.below(6) == 0) text += "\xEF\xBB\xBF";
    while (text.size() < 3 * 16384 + 100) {
      text += gen.below(3) == 0 ? gen.line() : "12.5 70.1 -45.2 3.25 1 100";
      text += '\n';
    }
    for (int edge = 16384; edge <= 3 * 16384; edge += 16384) {
      const int from = edge - 1 - gen.below(4);
      const int to = edge + gen.below(3);
      for (int at = from; at <= to; ++at)
        if (gen.below(4) != 0) text[std::size_t(at)] = gen.boundaryByte();
    }
    const QByteArray bytes = bytesOf(text);
    const QString path = writeTestFile(dir, "edges.txt", bytes);
    if (!sameRead(readWithQtReference(path),
                  readWithWholeDecodingReference(path)))
      ++faulted;
    const ::testing::AssertionResult r =
        readsLike(readWithWholeDecodingReference, dir, bytes,
                  {kBlockSizes[gen.below(6)]});
    if (!r) {
      ++failures;
      ADD_FAILURE() << "input " << file << ": " << r.message() << "\nnear "
                    << bytes.mid(16384 - 8, 16).toHex().constData() << " "
                    << bytes.mid(2 * 16384 - 8, 16).toHex().constData() << " "
                    << bytes.mid(3 * 16384 - 8, 16).toHex().constData();
    }
  }
  EXPECT_GT(faulted, generatedCases(400) / 8);
}

TEST(AsciiReaderDifferential, Utf16AndUtf32Inputs) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineGenerator gen(16);
  for (int file = 0; file < 100; ++file) {
    const std::string utf8 = gen.input(1 + gen.below(30));
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    QByteArray bytes;
    const int kind = gen.below(4);
    const bool bigEndian = kind & 1;
    if (kind < 2) {
      bytes = bigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
      for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        if (bigEndian) bytes.append(hi).append(lo);
        else bytes.append(lo).append(hi);
      }
    } else {
      bytes = bigEndian ? QByteArray("\0\0\xFE\xFF", 4)
                        : QByteArray("\xFF\xFE\0\0", 4);
      for (const char32_t u : text.toUcs4()) {
        const char b[4] = {char(u >> 24), char(u >> 16), char(u >> 8), char(u)};
        for (int i = 0; i < 4; ++i) bytes.append(b[bigEndian ? i : 3 - i]);
      }
    }
    // An odd byte now and then, and a CR byte in the middle of a unit.
    if (gen.below(3) == 0 && bytes.size() > 8)
      bytes[4 + gen.below(int(bytes.size()) - 4)] = gen.boundaryByte();
    EXPECT_TRUE(readsLikeQt(dir, bytes, {1, 7})) << "input " << file;
  }
}

TEST(AsciiReaderDifferential, LargeUtf16Input) {
  // More text than QTextStream hands over at a time on Qt's own path.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineGenerator gen(1616);
  const std::string utf8 = gen.input(60000);
  const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
  ASSERT_GT(text.size(), 1 << 21);
  QByteArray bytes("\xFF\xFE", 2);
  for (const QChar c : text)
    bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
  EXPECT_TRUE(readsLikeQt(dir, bytes, {65536}));
}

TEST(AsciiReaderDifferential, LargeMixedInputs) {
  // A few inputs of several hundred kilobytes with every kind of line.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  LineGenerator gen(31337);
  for (int file = 0; file < 4; ++file) {
    const QByteArray bytes = avoidingChunkEdgeFault(bytesOf(gen.input(20000)));
    EXPECT_TRUE(readsLikeQt(dir, bytes, {4096, 16384 * 3 + 1})) << file;
  }
}

}  // namespace
