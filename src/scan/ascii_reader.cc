// ScanData::openAscii and ScanData::readAscii.
//
// The input is read in large blocks, never whole: complete lines are
// converted in place by AsciiLineParser and an unfinished last line is
// carried into the next block, so memory stays about one line plus one
// block whatever the input's size.
#include "scan/ascii_reader.h"

#include "scan/ascii_line_parser.h"
#include "scan/helper_thread.h"
#include "scan/input_open.h"
#include "scan/scan_data.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

// Bytes of input per point for the capacity hint: a six-column line is
// about 50 bytes, so this over-reserves (untouched pages cost nothing).
constexpr qint64 kAsciiBytesPerPointHint = 24;

// Messages are handed to the stream in chunks of about this size.
constexpr std::size_t kMessageChunk = std::size_t(1) << 20;

// How far ahead of the reader the columns' pages are faulted in, in blocks.
constexpr std::size_t kBlocksWarmedAhead = 4;

// What the line loops return for an input of too many lines.
constexpr std::int64_t kRefused = -1;

// Bytes left uninitialised, grown with realloc: in place where it can, and
// large blocks are remapped rather than copied.
struct ByteBuffer {
  char* bytes = nullptr;
  std::size_t capacity = 0;

  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { std::free(bytes); }
};

void reserveBytes(ByteBuffer& buffer, std::size_t bytes) {
  if (bytes <= buffer.capacity) return;
  const std::size_t capacity =
      std::max(bytes, buffer.capacity + buffer.capacity / 2);
  void* grown = std::realloc(buffer.bytes, capacity);
  if (grown == nullptr) {
    std::cerr << "Out of memory" << std::endl;
    std::exit(-1);
  }
  buffer.bytes = static_cast<char*>(grown);
  buffer.capacity = capacity;
}

// The input and the bytes of it fetched but not converted yet.
struct BlockInput {
  QFile& file;
  std::size_t blockSize;
  ByteBuffer buffer;      // bytes [0, size) hold input
  std::size_t size = 0;
  bool ended = false;
  // For a regular file, whose size is known: its bytes not fetched yet.
  bool sized = false;
  std::uint64_t unread = 0;
};

// Appends one read to the buffer, with room for the parser's sentinel after
// it; false at the end of the input. A read error ends the input too, as it
// ends QTextStream::readAll.
bool fetchBlock(BlockInput& input) {
  if (input.ended) return false;
  // Room from the start for a carried line as long as a block, so that the
  // buffer is not regrown, and copied, on the second block of every run.
  reserveBytes(input.buffer,
               std::max(input.size + input.blockSize, 2 * input.blockSize) + 1);
  const qint64 got = input.file.read(input.buffer.bytes + input.size,
                                     qint64(input.blockSize));
  if (got <= 0) {
    input.ended = true;
    return false;
  }
  input.size += std::size_t(got);
  input.unread -= std::min(input.unread, std::uint64_t(got));
  return true;
}

// How many points the columns' pages should be warm for once a block of
// `blockBytes` bytes has taken them from `pointsBefore` to `points`, with
// `carried` bytes of an unfinished line left: a few blocks' worth ahead,
// but for a regular file not much past what the rest of it holds at this
// block's bytes per point. Pages warmed and never filled cost as much as
// filled ones, and a run of any size would pay for a few blocks of them at
// its end.
std::size_t pointsToWarm(const BlockInput& input, std::size_t points,
                         std::size_t pointsBefore, std::size_t blockBytes,
                         std::size_t carried) {
  const std::size_t blockPoints = points - pointsBefore;
  const std::size_t ahead = points + kBlocksWarmedAhead * blockPoints;
  if (!input.sized || blockBytes == 0) return ahead;
  const double rest = double(input.unread) + double(carried);
  const double expected = double(points) + double(blockPoints) / 8 +
                          rest * double(blockPoints) / double(blockBytes);
  return expected < double(ahead) ? std::size_t(expected) : ahead;
}

// Rejection messages, handed to the stream in large pieces.
struct MessageOutput {
  std::ostream& stream;
  std::string text;
};

void flushMessages(MessageOutput& messages, std::size_t atLeast) {
  if (messages.text.size() < atLeast) return;
  messages.stream.write(messages.text.data(),
                        static_cast<std::streamsize>(messages.text.size()));
  messages.text.clear();
}

// A block of this size or more is converted on two threads.
constexpr std::size_t kMinTwoThreadBytes = std::size_t(256) << 10;

// Converting numbers is most of the reader's cost, and lines do not depend
// on each other once the form is known. So a block's second half goes to a
// helper thread, which converts it into columns and messages of its own;
// they are appended after the first half's, so the store and the messages
// are exactly what one thread converting line by line gives.
struct SecondHalf {
  std::vector<float> col0, latitude, longitude, elevation;
  std::vector<short> col4, sweepIndex, col6;
  std::string messages;
  AsciiLineParser parser{
      {&col0, &latitude, &longitude, &elevation, &col4, &sweepIndex, &col6},
      &messages};
  HelperThread helper;

  template <typename T>
  static void moveTo(std::vector<T>& from, std::vector<T>& to) {
    to.insert(to.end(), from.begin(), from.end());
    from.clear();
  }

  void appendTo(ScanData& data, std::string& text) {
    moveTo(col0, data.col0);
    moveTo(latitude, data.latitude);
    moveTo(longitude, data.longitude);
    moveTo(elevation, data.elevation);
    moveTo(col4, data.col4);
    moveTo(sweepIndex, data.sweepIndex);
    moveTo(col6, data.col6);
    text += messages;
    messages.clear();
  }
};

// Converts the complete lines [begin, end), the first with index `index`;
// returns their number. The input's first line decides the form, so it is
// converted on its own before anything is split.
std::int64_t convertLines(char* begin, char* end, std::int64_t index,
                          AsciiLineParser& parser, SecondHalf& second,
                          ScanData& data, std::string& messages) {
  std::int64_t lines = 0;
  if (parser.form() == 0) {
    char* const firstEnd =
        static_cast<char*>(std::memchr(begin, '\n', std::size_t(end - begin))) + 1;
    lines = parser.parse(begin, firstEnd, index, false);
    begin = firstEnd;
  }
  const std::size_t size = std::size_t(end - begin);
  char* const split =
      size < kMinTwoThreadBytes
          ? end
          : static_cast<char*>(std::memchr(begin + size / 2, '\n', size - size / 2)) + 1;
  if (split == end) return lines + parser.parse(begin, end, index + lines, false);

  const std::int64_t firstLines = std::count(begin, split, '\n');
  second.parser.setForm(parser.form());
  std::int64_t secondLines = 0;
  second.helper.start([&] {
    secondLines = second.parser.parse(split, end, index + lines + firstLines, false);
  });
  parser.parse(begin, split, index + lines, false);
  second.helper.wait();
  second.appendTo(data, messages);
  return lines + firstLines + secondLines;
}

// A UTF-8 input (with or without its byte-order mark, which ends before
// `begin`): lines are cut at line feeds in the raw bytes. Returns the text
// lines, or kRefused past `maxLines`.
std::int64_t readUtf8Lines(BlockInput& input, std::size_t begin,
                           AsciiLineParser& parser, SecondHalf& second,
                           ScanData& data, MessageOutput& messages,
                           std::int64_t maxLines) {
  // buffer[begin, size) is not converted yet; [begin, searched) holds no
  // line feed.
  std::size_t searched = begin;
  std::int64_t lines = 0;
  while (!input.ended) {
    char* const bytes = input.buffer.bytes;
    const char* const lastLineFeed = static_cast<const char*>(
        memrchr(bytes + searched, '\n', input.size - searched));
    searched = input.size;
    if (lastLineFeed != nullptr) {
      const std::size_t end = std::size_t(lastLineFeed - bytes) + 1;
      const std::size_t pointsBefore = data.col0.size();
      lines += convertLines(bytes + begin, bytes + end, lines, parser, second,
                            data, messages.text);
      data.warmColumns(pointsToWarm(input, data.col0.size(), pointsBefore,
                                    end - begin, input.size - end));
      begin = end;
    }
    // Points are indexed by int: refuse as soon as the count is too high,
    // rather than after reading the rest of a huge input.
    if (lines > maxLines) return kRefused;
    flushMessages(messages, kMessageChunk);

    // Carry the unfinished line to the front and fetch the next block.
    if (begin > 0) {
      std::memmove(bytes, bytes + begin, input.size - begin);
      input.size -= begin;
      searched -= begin;
      begin = 0;
    }
    fetchBlock(input);
  }
  lines += parser.parse(input.buffer.bytes + begin,
                        input.buffer.bytes + input.size, lines, true);
  return lines > maxLines ? kRefused : lines;
}

// An input that begins with a UTF-16 or UTF-32 byte-order mark: decoded
// whole in that encoding, a block at a time, as QTextStream decodes it.
// Returns the text lines, or kRefused past `maxLines`.
std::int64_t readDecodedLines(QStringConverter::Encoding encoding,
                              BlockInput& input, AsciiLineParser& parser,
                              MessageOutput& messages, std::int64_t maxLines) {
  // Default flags, as QTextStream's decoder: the byte-order mark that chose
  // the encoding is skipped.
  QStringDecoder decoder(encoding);
  QString pending;  // the text of the line not finished yet
  std::int64_t lines = 0;
  do {
    QString text = decoder.decode(
        QByteArrayView(input.buffer.bytes, qsizetype(input.size)));
    input.size = 0;
    text.remove(QChar(u'\r'));
    qsizetype from = 0;
    for (qsizetype lineFeed; (lineFeed = text.indexOf(u'\n', from)) >= 0;
         from = lineFeed + 1) {
      pending += QStringView(text).sliced(from, lineFeed - from);
      parser.parseTextLine(pending, lines++);
      pending.resize(0);
    }
    pending += QStringView(text).sliced(from);
    if (lines > maxLines) return kRefused;
    flushMessages(messages, kMessageChunk);
  } while (fetchBlock(input));
  // The text after the last line feed is the last line, empty or not.
  parser.parseTextLine(pending, lines++);
  return lines > maxLines ? kRefused : lines;
}

}  // namespace

int readAsciiBlocks(ScanData& data, std::ostream& messages,
                    std::size_t blockSize, std::int64_t maxLines) {
  BlockInput input{data.file, blockSize, {}, 0, false};
  const qint64 fileSize = inputSizeHint(data.file);
  input.sized = fileSize > 0;
  if (input.sized)
    input.unread = std::uint64_t(std::max(fileSize - data.file.pos(), qint64(0)));
  MessageOutput output{messages, {}};
  AsciiLineParser parser(PointColumns::of(data), &output.text);
  SecondHalf second;

  // The first bytes decide the decoding, as they do for QTextStream: a
  // UTF-16 or UTF-32 byte-order mark, or else UTF-8.
  while (input.size < 4 && fetchBlock(input)) {
  }
  const std::optional<QStringConverter::Encoding> encoding =
      QStringConverter::encodingForData(
          QByteArrayView(input.buffer.bytes, qsizetype(input.size)));
  std::int64_t lines;
  if (encoding && *encoding != QStringConverter::Utf8) {
    lines = readDecodedLines(*encoding, input, parser, output, maxLines);
  } else {
    const std::size_t byteOrderMark = encoding ? 3 : 0;  // skipped
    lines = readUtf8Lines(input, byteOrderMark, parser, second, data, output,
                          maxLines);
  }

  flushMessages(output, 0);
  messages.flush();
  if (lines == kRefused) return -1;
  data.lineCount = static_cast<int>(lines);
  data.badLineCount =
      static_cast<int>(parser.badLines() + second.parser.badLines());
  data.sevenColumns = parser.form() == 7;
  return data.lineCount - data.badLineCount;
}

int ScanData::openAscii(const QString& name) {
  openInputOrExit(file, name);
  const qint64 size = inputSizeHint(file);
  reservePoints(size > 0 ? std::size_t(size / kAsciiBytesPerPointHint)
                         : kAsciiPipePointsHint);
  return 0;
}

int ScanData::readAscii(std::ostream& messages) {
  const int points =
      readAsciiBlocks(*this, messages, kAsciiBlockSize, kMaxInputPoints);
  if (points < 0) return -1;
  segmentScanLines();
  return points;
}
