#include "scan/ascii_line_parser.h"

#include "scan/number_parse.h"
#include "scan/text_decoding.h"

#include <QByteArray>
#include <QStringList>

#include <array>
#include <cstring>

namespace {

// What a byte is to a plain line.
enum ByteClass : unsigned char {
  kField,     // 0x21..0x7E: part of a field
  kBlank,     // tab, vertical tab, form feed, space: white space to Qt
  kLineFeed,  // ends the line
  kReturn,    // carriage return: removed by QTextStream, wherever it is
  kOther,     // NUL, other control bytes, DEL, bytes >= 0x80: Qt's path
};

constexpr std::array<unsigned char, 256> makeByteClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 0x21 && c <= 0x7E)
      classes[c] = kField;
    else if (c == 0x09 || c == 0x0B || c == 0x0C || c == 0x20)
      classes[c] = kBlank;
    else if (c == 0x0A)
      classes[c] = kLineFeed;
    else if (c == 0x0D)
      classes[c] = kReturn;
    else
      classes[c] = kOther;
  }
  return classes;
}

constexpr std::array<unsigned char, 256> kByteClasses = makeByteClasses();

inline unsigned char classOf(char c) {
  return kByteClasses[static_cast<unsigned char>(c)];
}

enum class LineScan { kPlain, kReturnInside, kNotPlain };

constexpr int kFloatFields = 4;
constexpr int kMaxStoredFields = 7;

}  // namespace

// One plain line, tokenised: its field count and its first seven fields,
// converted where the fast scanners matched them.
struct AsciiLineParser::PlainLine {
  const char* lineFeed;  // the line's line feed (or the sentinel)
  const char* textEnd;   // end of the text: the line feed, or a carriage
                         // return right before it
  std::int64_t fields;   // as simplified().split(" ") counts them
  unsigned slowFields;   // bit k: field k needs Qt's conversion
  float floats[kFloatFields];
  short shorts[kMaxStoredFields - kFloatFields];
  const char* fieldBegin[kMaxStoredFields];
  const char* fieldEnd[kMaxStoredFields];
};

namespace {

// Tokenises the line at `p`. Plain: the line is all field bytes and blanks,
// with at most one carriage return, right before its line feed. Reads
// nothing past the line feed.
inline LineScan scanPlainLine(const char* p,
                              AsciiLineParser::PlainLine* line) {
  std::int64_t n = 0;
  unsigned slow = 0;
  for (;;) {
    const unsigned char k = classOf(*p);
    if (k == kBlank) {
      ++p;
      continue;
    }
    if (k != kField) {
      if (k == kLineFeed) {
        line->textEnd = p;
        line->lineFeed = p;
        break;
      }
      if (k == kReturn && p[1] == '\n') {
        line->textEnd = p;
        line->lineFeed = p + 1;
        break;
      }
      return k == kReturn ? LineScan::kReturnInside : LineScan::kNotPlain;
    }
    const char* const fieldBegin = p;
    const char* q = nullptr;
    if (n < kFloatFields)
      q = scanFloatField(p, &line->floats[n]);
    else if (n < kMaxStoredFields)
      q = scanShortField(p, &line->shorts[n - kFloatFields]);
    if (q == nullptr) {
      q = p;
      if (n < kMaxStoredFields) slow |= 1u << n;
    } else if (classOf(*q) == kField) {
      slow |= 1u << n;  // the field goes on past the number
    }
    while (classOf(*q) == kField) ++q;
    if (n < kMaxStoredFields) {
      line->fieldBegin[n] = fieldBegin;
      line->fieldEnd[n] = q;
    }
    ++n;
    p = q;
  }
  // A blank line is one empty part to split().
  line->fields = n == 0 ? 1 : n;
  line->slowFields = slow;
  return LineScan::kPlain;
}

}  // namespace

AsciiLineParser::AsciiLineParser(ScanData& points, RejectedLines& rejected)
    : points_(points), rejected_(rejected) {}

std::int64_t AsciiLineParser::parse(char* begin, char* end,
                                    std::int64_t firstLineIndex,
                                    bool endsInput) {
  rangeEnd_ = end;
  endsInput_ = endsInput;
  // The input's last line has no line feed: a sentinel ends it for the
  // scanners, which never read past a line feed.
  if (endsInput) *end = '\n';

  char* p = begin;
  std::int64_t lines = 0;
  while (p < end || (endsInput && p == end)) {
    p = parsePlainOrOther(p, firstLineIndex + lines);
    ++lines;
  }
  return lines;
}

char* AsciiLineParser::parsePlainOrOther(char* line, std::int64_t index) {
  PlainLine scan;
  switch (scanPlainLine(line, &scan)) {
    case LineScan::kPlain:
      finishPlainLine(line, scan.textEnd, scan, index, true);
      return line + (scan.lineFeed - line) + 1;
    case LineScan::kReturnInside:
      return parseWithCarriageReturns(line, index);
    case LineScan::kNotPlain:
      break;
  }
  return parseNotPlain(line, index);
}

char* AsciiLineParser::parseWithCarriageReturns(char* line,
                                                std::int64_t index) {
  char* const lineFeed = lineFeedOf(line);
  // QTextStream drops every carriage return: the line is its other bytes.
  scratch_.clear();
  for (const char* p = line; p < lineFeed; ++p) {
    const unsigned char k = classOf(*p);
    if (k == kReturn) continue;
    if (k == kOther) return parseNotPlain(line, index);
    scratch_.push_back(*p);
  }
  scratch_.push_back('\n');
  PlainLine scan;
  scanPlainLine(scratch_.data(), &scan);  // plain: no return is left
  finishPlainLine(scratch_.data(), scan.textEnd, scan, index, false);
  return lineFeed + 1;
}

char* AsciiLineParser::parseNotPlain(char* line, std::int64_t index) {
  char* const lineFeed = lineFeedOf(line);
  // The input's last line ends at the sentinel, not at a line feed of the
  // input: an unfinished sequence there is dropped. Any other line is
  // decoded with its line feed, so that an unfinished sequence before it
  // gives U+FFFD; the line feed itself always decodes as one.
  const bool lastLine = endsInput_ && lineFeed == rangeEnd_;
  char* const textEnd = lastLine ? lineFeed : lineFeed + 1;
  if (std::size_t(textEnd - line) >= kLongLineBytes &&
      parseLongRejectedLine(line, textEnd, lastLine, index))
    return lineFeed + 1;
  QString text = decodeUtf8Line(line, textEnd);
  if (!lastLine) text.chop(1);
  parseTextLine(text, index);
  return lineFeed + 1;
}

bool AsciiLineParser::parseLongRejectedLine(char* line, char* textEnd,
                                            bool lastLine,
                                            std::int64_t index) {
  FieldCount count;
  decodeUtf8LineInPieces(line, textEnd,
                         [&](const QString& piece) { count.add(piece); });
  // A long line that is a point holds a long field: it is converted whole.
  if (accepts(count.fields())) return false;
  // The message text, toLatin1() of the decoded line up to a NUL, is never
  // longer than the bytes it comes from, so it is written over them.
  char* out = line;
  bool ended = false;
  decodeUtf8LineInPieces(line, textEnd, [&](const QString& piece) {
    if (ended) return;
    const QByteArray latin1 = piece.toLatin1();
    const std::size_t length = std::strlen(latin1.constData());
    std::memcpy(out, latin1.constData(), length);
    out += length;
    ended = length < std::size_t(latin1.size());
  });
  // The line feed decodes as the last character; it is not part of the text.
  if (!lastLine && !ended) --out;
  rejected_.addInPlace(index, count.fields(), line, std::size_t(out - line));
  return true;
}

char* AsciiLineParser::lineFeedOf(char* line) const {
  char* const searchEnd = endsInput_ ? rangeEnd_ + 1 : rangeEnd_;
  return static_cast<char*>(
      std::memchr(line, '\n', static_cast<size_t>(searchEnd - line)));
}

void FieldCount::add(const QString& text) {
  for (const QChar c : text) {
    if (c.isSpace()) {
      inRun = false;
    } else if (!inRun) {
      inRun = true;
      ++runs;
    }
  }
}

void AsciiLineParser::parseTextLine(const QString& line, std::int64_t index) {
  FieldCount count;
  count.add(line);
  const std::int64_t fields = count.fields();
  if (!accepts(fields)) {
    // toLatin1().constData() as a C string: "?" for characters outside
    // Latin-1, and the text ends at a NUL.
    const QByteArray latin1 = line.toLatin1();
    rejected_.addCopy(index, fields, latin1.constData(),
                      std::strlen(latin1.constData()));
    return;
  }
  const QStringList parts =
      line.simplified().split(QStringLiteral(" "), Qt::KeepEmptyParts);
  points_.col0.push_back(qtStringToFloat(parts[0]));
  points_.latitude.push_back(qtStringToFloat(parts[1]));
  points_.longitude.push_back(qtStringToFloat(parts[2]));
  points_.elevation.push_back(qtStringToFloat(parts[3]));
  points_.col4.push_back(qtStringToShort(parts[4]));
  points_.sweepIndex.push_back(qtStringToShort(parts[5]));
  if (fields == 7) points_.col6.push_back(qtStringToShort(parts[6]));
}

void AsciiLineParser::finishPlainLine(const char* text, const char* textEnd,
                                      const PlainLine& scan,
                                      std::int64_t index, bool inPlace) {
  if (!accepts(scan.fields)) {
    const std::size_t length = static_cast<std::size_t>(textEnd - text);
    if (inPlace)
      rejected_.addInPlace(index, scan.fields, text, length);
    else
      rejected_.addCopy(index, scan.fields, text, length);
    return;
  }
  float floats[kFloatFields];
  short shorts[kMaxStoredFields - kFloatFields];
  std::memcpy(floats, scan.floats, sizeof floats);
  std::memcpy(shorts, scan.shorts, sizeof shorts);
  if (scan.slowFields != 0) {
    for (int k = 0; k < scan.fields; ++k) {
      if (!(scan.slowFields & (1u << k))) continue;
      if (k < kFloatFields)
        floats[k] = qtFieldToFloat(scan.fieldBegin[k], scan.fieldEnd[k]);
      else
        shorts[k - kFloatFields] =
            qtFieldToShort(scan.fieldBegin[k], scan.fieldEnd[k]);
    }
  }
  points_.col0.push_back(floats[0]);
  points_.latitude.push_back(floats[1]);
  points_.longitude.push_back(floats[2]);
  points_.elevation.push_back(floats[3]);
  points_.col4.push_back(shorts[0]);
  points_.sweepIndex.push_back(shorts[1]);
  if (scan.fields == 7) points_.col6.push_back(shorts[2]);
}

bool AsciiLineParser::accepts(std::int64_t fields) {
  // The input's first line decides the form.
  if (form_ == 0) form_ = fields == 7 ? 7 : 6;
  return fields == form_;
}

std::int64_t countLineFields(const char* line, const char* end) {
  const char* const lineFeed = static_cast<const char*>(
      std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
  FieldCount count;
  decodeUtf8LineInPieces(line, lineFeed ? lineFeed + 1 : end,
                         [&](const QString& piece) { count.add(piece); });
  return count.fields();
}
