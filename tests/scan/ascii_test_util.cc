#include "scan/ascii_test_util.h"

#include "scan/input_reader.h"
#include "scan/scan_data.h"
#include "staged_read.h"

#include <QFile>
#include <QStringConverter>

#include <cstring>

QString writeTestFile(const QTemporaryDir& dir, const QString& name,
                      const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    ADD_FAILURE() << "cannot write " << path.toStdString();
  return path;
}

void openTextInput(InputReader& reader, const QString& path) {
  reader.file.setFileName(path);
  if (!reader.file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    ADD_FAILURE() << "cannot open " << path.toStdString();
}

AsciiReadResult readInBlocks(const QString& path, std::size_t blockSize) {
  InputReader reader;
  openTextInput(reader, path);
  if (blockSize > 0) reader.blockBytes = blockSize;
  StagedRead read = readInStages(reader);
  const ScanData& data = read.points;
  AsciiReadResult r;
  r.col0 = data.col0;
  r.latitude = data.latitude;
  r.longitude = data.longitude;
  r.elevation = data.elevation;
  r.col4 = data.col4;
  r.sweepIndex = data.sweepIndex;
  if (data.sevenColumns) r.col6 = data.col6;
  r.lineCount = static_cast<int>(read.textLines);
  r.badLineCount = static_cast<int>(read.rejectedLines);
  r.sevenColumns = data.sevenColumns;
  r.messages = read.messages;
  return r;
}

namespace {

std::string excerpt(const std::string& s, std::size_t at) {
  const std::size_t from = at > 40 ? at - 40 : 0;
  std::string e = s.substr(from, 100);
  std::string printable;
  for (const unsigned char c : e) {
    if (c >= 0x20 && c < 0x7F) {
      printable += char(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      printable += hex;
    }
  }
  return printable;
}

std::uint32_t bitsOf(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

template <typename T>
bool sameColumn(const char* name, const std::vector<T>& expected,
                const std::vector<T>& actual, ::testing::AssertionResult* r) {
  if (expected.size() != actual.size()) {
    *r = ::testing::AssertionFailure() << name << ": " << actual.size()
                                       << " values, expected "
                                       << expected.size();
    return false;
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    bool same;
    if constexpr (std::is_same_v<T, float>)
      same = bitsOf(expected[i]) == bitsOf(actual[i]);
    else
      same = expected[i] == actual[i];
    if (!same) {
      *r = ::testing::AssertionFailure()
           << name << "[" << i << "] = " << actual[i] << ", expected "
           << expected[i];
      return false;
    }
  }
  return true;
}

}  // namespace

::testing::AssertionResult sameRead(const AsciiReadResult& expected,
                                    const AsciiReadResult& actual) {
  if (expected.lineCount != actual.lineCount)
    return ::testing::AssertionFailure()
           << "lineCount " << actual.lineCount << ", expected "
           << expected.lineCount;
  if (expected.badLineCount != actual.badLineCount)
    return ::testing::AssertionFailure()
           << "badLineCount " << actual.badLineCount << ", expected "
           << expected.badLineCount;
  if (expected.sevenColumns != actual.sevenColumns)
    return ::testing::AssertionFailure()
           << "sevenColumns " << actual.sevenColumns << ", expected "
           << expected.sevenColumns;
  if (expected.messages != actual.messages) {
    std::size_t at = 0;
    while (at < expected.messages.size() && at < actual.messages.size() &&
           expected.messages[at] == actual.messages[at])
      ++at;
    return ::testing::AssertionFailure()
           << "messages differ at byte " << at << ":\n  got      "
           << excerpt(actual.messages, at) << "\n  expected "
           << excerpt(expected.messages, at);
  }
  ::testing::AssertionResult r = ::testing::AssertionSuccess();
  sameColumn("col0", expected.col0, actual.col0, &r) &&
      sameColumn("latitude", expected.latitude, actual.latitude, &r) &&
      sameColumn("longitude", expected.longitude, actual.longitude, &r) &&
      sameColumn("elevation", expected.elevation, actual.elevation, &r) &&
      sameColumn("col4", expected.col4, actual.col4, &r) &&
      sameColumn("sweepIndex", expected.sweepIndex, actual.sweepIndex, &r) &&
      sameColumn("col6", expected.col6, actual.col6, &r);
  return r;
}

::testing::AssertionResult readsLike(
    AsciiReference reference, const QTemporaryDir& dir,
    const QByteArray& bytes, std::initializer_list<std::size_t> blockSizes) {
  const QString path = writeTestFile(dir, QStringLiteral("input.txt"), bytes);
  const AsciiReadResult expected = reference(path);
  ::testing::AssertionResult r = sameRead(expected, readInBlocks(path));
  if (!r) return r << " (blocks of " << kInputBlockBytes << " bytes)";
  for (const std::size_t blockSize : blockSizes) {
    r = sameRead(expected, readInBlocks(path, blockSize));
    if (!r) return r << " (block size " << blockSize << ")";
  }
  return r;
}

::testing::AssertionResult readsLikeQt(
    const QTemporaryDir& dir, const QByteArray& bytes,
    std::initializer_list<std::size_t> blockSizes) {
  if (mayHitChunkEdgeFault(bytes))
    return ::testing::AssertionFailure()
           << "the input may hit the chunk-edge fault of QTextStream's "
              "decoder: compare it with the whole-decoding reference";
  return readsLike(readWithQtReference, dir, bytes, blockSizes);
}

namespace {

bool decodedAsUtf8(const QByteArray& bytes) {
  const auto encoding = QStringConverter::encodingForData(bytes);
  return !encoding || *encoding == QStringConverter::Utf8;
}

}  // namespace

bool mayHitChunkEdgeFault(const QByteArray& bytes) {
  if (!decodedAsUtf8(bytes)) return false;
  for (qsizetype edge = kTextStreamChunkSize; edge < bytes.size();
       edge += kTextStreamChunkSize)
    if (static_cast<unsigned char>(bytes[edge - 1]) >= 0x80) return true;
  return false;
}

QByteArray avoidingChunkEdgeFault(QByteArray bytes) {
  if (!decodedAsUtf8(bytes)) return bytes;
  for (qsizetype edge = kTextStreamChunkSize; edge < bytes.size();
       edge += kTextStreamChunkSize)
    if (static_cast<unsigned char>(bytes[edge - 1]) >= 0x80)
      bytes[edge - 1] = 'x';
  return bytes;
}
