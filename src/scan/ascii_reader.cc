// ScanData::openAscii and ScanData::readAscii (Part 2.2).
//
// The input is read in large blocks, never whole: complete lines are
// converted in place by AsciiLineParser and an unfinished last line is
// carried into the next block, so memory stays about one line plus one
// block whatever the input's size.
#include "scan/ascii_reader.h"

#include "scan/ascii_line_parser.h"
#include "scan/input_open.h"
#include "scan/scan_data.h"
#include "scan/text_decoding.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QTextStream>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <string>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

// Bytes of input per point for the capacity hint: a six-column line is
// about 50 bytes, so this over-reserves (untouched pages cost nothing).
constexpr qint64 kAsciiBytesPerPointHint = 24;

// Messages are handed to the stream in chunks of about this size.
constexpr std::size_t kMessageChunk = std::size_t(1) << 20;

// Characters QTextStream::read hands over at a time on Qt's own path.
constexpr qint64 kTextChunk = qint64(1) << 20;

// A byte buffer that leaves its bytes uninitialised and grows with realloc,
// in place where it can (large blocks are remapped, not copied).
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { std::free(data_); }

  char* data() { return data_; }

  void reserve(std::size_t bytes) {
    if (bytes <= capacity_) return;
    const std::size_t capacity = std::max(bytes, capacity_ + capacity_ / 2);
    void* grown = std::realloc(data_, capacity);
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
    adviseHugePages();
  }

 private:
  // First touches of fresh pages are costly on some machines (about 10 us a
  // page on a virtual one): transparent huge pages cut their number.
  void adviseHugePages() {
#ifdef __linux__
    constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data_);
    const std::uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = (start + capacity_) & ~(kHugePage - 1);
    if (to > from)
      madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
  }

  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// The input from its start, for QTextStream: the bytes fetched already,
// then the rest of the file. Every read is filled as far as the input
// goes, as a regular file fills it, so QTextStream sees its usual chunks.
class PrefixedInput : public QIODevice {
 public:
  PrefixedInput(QByteArray prefix, QIODevice* rest)
      : prefix_(std::move(prefix)), rest_(rest) {}

  bool isSequential() const override { return true; }

 protected:
  qint64 readData(char* data, qint64 maxSize) override {
    qint64 n = std::min<qint64>(maxSize, prefix_.size() - position_);
    std::memcpy(data, prefix_.constData() + position_, std::size_t(n));
    position_ += n;
    while (n < maxSize) {
      const qint64 got = rest_->read(data + n, maxSize - n);
      if (got <= 0) break;
      n += got;
    }
    return n;
  }

  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray prefix_;
  qint64 position_ = 0;
  QIODevice* rest_;
};

void flushMessages(std::string& out, std::ostream& messages) {
  messages.write(out.data(), static_cast<std::streamsize>(out.size()));
  out.clear();
}

// An input that begins with a UTF-16 or UTF-32 byte-order mark: QTextStream
// decodes it, a chunk at a time, and the parser takes its text lines.
std::int64_t readThroughTextStream(QByteArray prefix, QIODevice& file,
                                   AsciiLineParser& parser, std::string& out,
                                   std::ostream& messages) {
  PrefixedInput input(std::move(prefix), &file);
  input.open(QIODevice::ReadOnly | QIODevice::Text | QIODevice::Unbuffered);
  QTextStream stream(&input);
  QString pending;     // text not converted yet
  qsizetype scanned = 0;  // pending[0, scanned) holds no line feed
  std::int64_t index = 0;
  for (;;) {
    const QString chunk = stream.read(kTextChunk);
    if (chunk.isEmpty()) break;
    pending += chunk;
    qsizetype from = 0;
    for (qsizetype lineFeed;
         (lineFeed = pending.indexOf(u'\n', std::max(from, scanned))) >= 0;
         from = lineFeed + 1)
      parser.parseTextLine(pending.mid(from, lineFeed - from), index++);
    pending.remove(0, from);
    scanned = pending.size();
    if (out.size() >= kMessageChunk) flushMessages(out, messages);
  }
  // The text after the last line feed is the last line, empty or not.
  parser.parseTextLine(pending, index++);
  return index;
}

// The last line feed in buffer[from, to) that certainly ends a text line
// (see lineFeedMayVanish), or nullptr. `buffer` sits at `bufferOffset` of
// the input. A line feed at buffer[0] is always one: that byte follows a
// line feed already converted, the byte-order mark (not at a chunk
// boundary) or nothing.
const char* lastSafeLineFeed(const char* buffer, std::size_t from,
                             std::size_t to, std::int64_t bufferOffset) {
  const char* const first = buffer + from;
  const char* end = buffer + to;
  while (end > first) {
    const char* lineFeed = static_cast<const char*>(
        memrchr(first, '\n', static_cast<std::size_t>(end - first)));
    if (lineFeed == nullptr) return nullptr;
    if (lineFeed == buffer ||
        !lineFeedMayVanish(bufferOffset + (lineFeed - buffer),
                           static_cast<unsigned char>(lineFeed[-1])))
      return lineFeed;
    end = lineFeed;
  }
  return nullptr;
}

}  // namespace

void readAsciiBlocks(ScanData& data, std::ostream& messages,
                     std::size_t blockSize) {
  std::string out;
  AsciiLineParser parser(PointColumns::of(data), &out);

  // buffer[begin, size) holds the input's bytes from offset
  // bufferOffset + begin on that are not converted yet; [begin, searched)
  // holds no line feed that certainly ends a line.
  ByteBuffer buffer;
  std::size_t begin = 0;
  std::size_t size = 0;
  std::size_t searched = 0;
  std::int64_t bufferOffset = 0;
  std::int64_t lineIndex = 0;
  bool atEnd = false;

  // Appends one read; false at the end of the input. A read error ends the
  // input too, as it ends QTextStream::readAll.
  const auto fill = [&] {
    buffer.reserve(size + blockSize + 1);  // + 1: the parser's sentinel
    const qint64 got = data.file.read(buffer.data() + size, qint64(blockSize));
    if (got <= 0) return false;
    size += std::size_t(got);
    return true;
  };

  // The first bytes decide the decoding, as they do for QTextStream.
  while (size < 4 && !atEnd) atEnd = !fill();
  if (startsWithUtf16Or32ByteOrderMark(buffer.data(), size)) {
    lineIndex = readThroughTextStream(QByteArray(buffer.data(), qsizetype(size)),
                                      data.file, parser, out, messages);
  } else {
    if (startsWithUtf8ByteOrderMark(buffer.data(), size)) begin = searched = 3;
    while (!atEnd) {
      const char* const cut =
          lastSafeLineFeed(buffer.data(), std::max(begin, searched), size,
                           bufferOffset);
      searched = size;
      if (cut != nullptr) {
        const std::size_t end = std::size_t(cut - buffer.data()) + 1;
        lineIndex += parser.parse(buffer.data() + begin, buffer.data() + end,
                                  bufferOffset + std::int64_t(begin),
                                  lineIndex, false);
        begin = end;
      }
      // Issue 6: data.pointCount() is the exact (size_t) count of points so
      // far; a limit on points that an int can index belongs here.
      if (out.size() >= kMessageChunk) flushMessages(out, messages);

      // Carry the unfinished line to the front and fetch the next block.
      if (begin > 0) {
        std::memmove(buffer.data(), buffer.data() + begin, size - begin);
        bufferOffset += std::int64_t(begin);
        size -= begin;
        searched -= begin;
        begin = 0;
      }
      atEnd = !fill();
    }
    lineIndex += parser.parse(buffer.data() + begin, buffer.data() + size,
                              bufferOffset + std::int64_t(begin), lineIndex,
                              true);
  }

  flushMessages(out, messages);
  messages.flush();
  data.lineCount = static_cast<int>(lineIndex);
  data.badLineCount = static_cast<int>(parser.badLines());
  data.sevenColumns = parser.form() == 7;
}

int ScanData::openAscii(const QString& name) {
  openInputOrExit(file, name);
  const qint64 size = inputSizeHint(file);
  reservePoints(size > 0 ? std::size_t(size / kAsciiBytesPerPointHint)
                         : kAsciiPipePointsHint);
  return 0;
}

int ScanData::readAscii(std::ostream& messages) {
  readAsciiBlocks(*this, messages, kAsciiBlockSize);
  segmentScanLines();
  return lineCount - badLineCount;
}
