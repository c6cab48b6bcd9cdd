#include "scan/input_reader.h"

#include <QByteArrayView>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "scan/ascii_line_parser.h"
#include "scan/point_record.h"

namespace {

// A line longer than a block is read in reads growing with it, up to this
// size, rather than a block at a time: a huge line in tiny blocks would
// otherwise take millions of reads.
constexpr std::size_t kLongLineReadBytes = std::size_t(1) << 20;

// Bytes to read next, with `unfinished` bytes of a line read so far.
std::size_t readSize(const InputReader& in, std::size_t unfinished) {
  return std::max(in.blockBytes, std::min(unfinished, kLongLineReadBytes));
}

// A compressed input's next bytes: the supplied block, once.
void takeSupply(InputReader& in) {
  in.starved = in.supply == nullptr;
  if (in.starved) return;
  const ByteBuffer& supplied = in.supply->bytes;
  in.pending.reserve(in.pending.size + supplied.size + 1);
  if (supplied.size > 0)
    std::memcpy(in.pending.bytes + in.pending.size, supplied.bytes, supplied.size);
  in.pending.size += supplied.size;
  in.atEnd = in.supply->endsInput;
  in.bytesRead = in.supply->bytesRead;
  in.supply = nullptr;
}

// Reads up to `n` more bytes after the pending ones, with room for the
// parser's sentinel after them. Zero bytes, or an error, ends the input.
void fetch(InputReader& in, std::size_t n) {
  if (in.decompressor) return takeSupply(in);
  in.pending.reserve(in.pending.size + n + 1);
  ssize_t got;
  do {
    got = ::read(in.file.handle(), in.pending.bytes + in.pending.size, n);
  } while (got < 0 && errno == EINTR);
  if (got < 0) in.readError = errno;
  if (got <= 0) {
    in.atEnd = true;
    return;
  }
  in.pending.size += std::size_t(got);
  in.bytesRead += std::uint64_t(got);
}

// The block gets the first `n` pending bytes; the rest stays pending.
void handOut(InputReader& in, InputBlock& block, std::size_t n) {
  block.bytes.swap(in.pending);
  const std::size_t rest = block.bytes.size - n;
  in.pending.size = 0;
  in.pending.reserve(std::max(rest, in.blockBytes) + 1);
  if (rest > 0) std::memcpy(in.pending.bytes, block.bytes.bytes + n, rest);
  in.pending.size = rest;
  block.bytes.size = n;
  // What stays is the start of a line: no line feed in it.
  in.searched = rest;
}

// The form the input's first line decides: seven columns for a first line
// of seven fields, else six. It is decided before any block is converted,
// since the blocks may be converted in any order.
int formOfFields(std::int64_t fields) { return fields == 7 ? 7 : 6; }

// The first bytes decide the decoding, as they do for QTextStream: a
// UTF-16 or UTF-32 byte-order mark, or else UTF-8, whose byte-order mark is
// skipped.
void startText(InputReader& in) {
  while (in.pending.size < 4 && !in.atEnd && !in.starved)
    fetch(in, in.blockBytes);
  if (in.pending.size < 4 && !in.atEnd) return;  // a later block decides
  in.started = true;
  const std::optional<QStringConverter::Encoding> encoding =
      QStringConverter::encodingForData(
          QByteArrayView(in.pending.bytes, qsizetype(in.pending.size)));
  if (!encoding) return;
  if (*encoding == QStringConverter::Utf8) {
    in.pending.size -= 3;
    std::memmove(in.pending.bytes, in.pending.bytes + 3, in.pending.size);
    return;
  }
  // Default flags, as QTextStream's decoder: the byte-order mark that chose
  // the encoding is skipped.
  in.decoder = std::make_unique<QStringDecoder>(*encoding);
}

// A line past the bound ends the read once the whole lines before it are
// handed out: true when the block is to go out with those (false: the
// long line comes first, and the read ends here).
bool endsAtLongLine(InputReader& in, std::size_t held, bool linesBefore) {
  if (held <= in.longestLine) return false;
  if (!linesBefore) in.lineTooLong = true;
  return true;
}

void readUtf8Block(InputReader& in, InputBlock& block) {
  // Until a block's worth of bytes holds a whole line, or the input ends;
  // pending[0, lineEnd) is whole lines.
  std::size_t lineEnd = 0;
  for (;;) {
    const char* const lineFeed = static_cast<const char*>(
        memrchr(in.pending.bytes + in.searched, '\n',
                in.pending.size - in.searched));
    if (lineFeed != nullptr)
      lineEnd = std::size_t(lineFeed - in.pending.bytes) + 1;
    in.searched = in.pending.size;
    if (in.atEnd || (lineEnd > 0 && in.pending.size >= in.blockBytes)) break;
    if (endsAtLongLine(in, in.pending.size - lineEnd, lineEnd > 0)) break;
    if (in.starved) break;
    fetch(in, readSize(in, in.pending.size));
  }
  if (in.lineTooLong) return;
  if (in.form == 0 && (lineEnd > 0 || in.atEnd)) {
    in.form = formOfFields(countLineFields(
        in.pending.bytes, in.pending.bytes + in.pending.size));
  }
  block.endsInput = in.atEnd;
  // A compressed input's block may complete no line: the bytes wait.
  if (lineEnd > 0 || in.atEnd)
    handOut(in, block, in.atEnd ? in.pending.size : lineEnd);
}

// Decodes the pending bytes and appends the lines they finish to `lines`;
// returns the characters appended.
std::size_t decodePending(InputReader& in, std::vector<QString>& lines) {
  QString text = in.decoder->decode(
      QByteArrayView(in.pending.bytes, qsizetype(in.pending.size)));
  in.pending.size = 0;
  text.remove(QChar(u'\r'));
  std::size_t characters = 0;
  qsizetype from = 0;
  for (qsizetype lineFeed; (lineFeed = text.indexOf(u'\n', from)) >= 0;
       from = lineFeed + 1) {
    in.unfinishedLine += QStringView(text).sliced(from, lineFeed - from);
    characters += std::size_t(in.unfinishedLine.size()) + 1;
    lines.push_back(in.unfinishedLine);
    in.unfinishedLine.resize(0);
  }
  in.unfinishedLine += QStringView(text).sliced(from);
  return characters;
}

void readDecodedBlock(InputReader& in, InputBlock& block) {
  std::size_t characters = 0;
  for (;;) {
    if (in.pending.size > 0) characters += decodePending(in, block.decodedLines);
    if (in.atEnd) {
      // The text after the last line feed is the last line, empty or not.
      block.decodedLines.push_back(in.unfinishedLine);
      in.unfinishedLine.clear();
      block.endsInput = true;
      break;
    }
    // Two bytes a character, as a block of bytes would hold.
    if (!block.decodedLines.empty() && 2 * characters >= in.blockBytes) break;
    const std::size_t held = 2 * std::size_t(in.unfinishedLine.size());
    if (endsAtLongLine(in, held, !block.decodedLines.empty())) break;
    if (in.starved) break;
    fetch(in, readSize(in, held));
  }
  if (in.lineTooLong) return;
  if (in.form == 0 && !block.decodedLines.empty()) {
    FieldCount count;
    count.add(block.decodedLines.front());
    in.form = formOfFields(count.fields());
  }
}

void readBinaryBlock(InputReader& in, InputBlock& block) {
  const std::size_t want =
      std::max<std::size_t>(in.blockBytes / kPointRecordSize, 1) *
      kPointRecordSize;
  while (!in.atEnd && !in.starved && in.pending.size < want)
    fetch(in, want - in.pending.size);
  const std::size_t records = in.pending.size / kPointRecordSize;
  block.endsInput = in.atEnd;
  handOut(in, block, records * kPointRecordSize);
  // A trailing partial record is not a point.
  if (block.endsInput) in.pending.size = 0;
}

}  // namespace

ByteBuffer::~ByteBuffer() { std::free(bytes); }

void ByteBuffer::reserve(std::size_t wanted) {
  if (wanted <= capacity) return;
  const std::size_t grown = std::max(wanted, capacity + capacity / 2);
  void* moved = std::realloc(bytes, grown);
  if (moved == nullptr) throw std::bad_alloc();
  bytes = static_cast<char*>(moved);
  capacity = grown;
}

void ByteBuffer::swap(ByteBuffer& other) {
  std::swap(bytes, other.bytes);
  std::swap(size, other.size);
  std::swap(capacity, other.capacity);
}

bool readInputBlock(InputReader& reader, InputBlock& block) {
  if (reader.done) return false;
  block.binary = reader.binary;
  block.bytes.size = 0;
  block.decodedLines.clear();
  block.endsInput = false;
  reader.starved = false;
  if (reader.binary) {
    readBinaryBlock(reader, block);
  } else {
    if (!reader.started) startText(reader);
    if (reader.decoder)
      readDecodedBlock(reader, block);
    else if (reader.started)
      readUtf8Block(reader, block);
    block.form = reader.form;
  }
  block.bytesRead = reader.bytesRead;
  const bool failed = reader.readError != 0 || reader.lineTooLong;
  reader.done = block.endsInput || failed;
  return !failed;
}
