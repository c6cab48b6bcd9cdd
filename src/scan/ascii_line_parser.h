// The core of the ASCII scanner file reader: converts a byte range of
// complete text lines into point-column appends and rejection messages,
// with the result of Qt 6's literal path (QTextStream::readAll, split at
// "\n", simplified, split at " ", toFloat / toShort(…, 10)) to the bit,
// except that no byte is lost where QTextStream's decoder would lose one
// (text_decoding.h).
//
// Plain lines (every byte in 0x09, 0x0B, 0x0C, 0x20..0x7E, with a carriage
// return allowed anywhere) are tokenised in place and converted with the
// fast scanners of number_parse.h; a field outside their grammar goes to Qt.
// Any other line (a byte >= 0x80, NUL, another control byte) is decoded
// whole (text_decoding.h) and goes through Qt.
//
// The parser holds no input: it only appends, to the point columns of a
// store and to a list of rejected lines. Blocks of one input can be
// converted at once by parsers of their own, each block starting where a
// line starts, once the form is decided by the input's first line.
#ifndef SCANFIT_SCAN_ASCII_LINE_PARSER_H_
#define SCANFIT_SCAN_ASCII_LINE_PARSER_H_

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scan/rejected_lines.h"
#include "scan/scan_data.h"

// The field count of a line as simplified().split(" ") counts its parts:
// runs of characters that are not white space, and one empty part for a
// blank line. Text may be added a piece at a time.
struct FieldCount {
  std::int64_t runs = 0;
  bool inRun = false;

  void add(const QString& text);
  std::int64_t fields() const { return runs == 0 ? 1 : runs; }
};

// The field count of the line that starts at `line` and ends at its line
// feed, or at `end` if it has none. Reads nothing else and writes nothing.
std::int64_t countLineFields(const char* line, const char* end);

struct AsciiLineParser {
  // Appends accepted points to the input columns of `points` and every
  // rejected line to `rejected`, with its index within the parsed lines.
  AsciiLineParser(ScanData& points, RejectedLines& rejected);

  // The form: 0 until a first line decides it, then 6 or 7 fields. Unless
  // set beforehand, the first line the parser sees decides it (7 fields:
  // seven-column form; any other count: six-column form).
  int form() const { return form_; }
  void setForm(int fields) { form_ = fields; }

  // Converts the lines in [begin, end), the first of which has index
  // `firstLineIndex`. `begin` is at a line start. Unless `endsInput`,
  // end[-1] is a line feed. With `endsInput`, the bytes after the last line
  // feed (none, for an input that ends in a line feed) form the input's last
  // line, and *end must be writable (a sentinel goes there). The bytes must
  // stay where they are until the rejected lines are written: the texts of
  // most are not copied, and a rejected line of kLongLineBytes or more that
  // is not plain is decoded a piece at a time and its message text written
  // over its own bytes, so that it is never held twice. Returns the number
  // of text lines converted.
  std::int64_t parse(char* begin, char* end, std::int64_t firstLineIndex,
                     bool endsInput);

  // Converts one line given as decoded text, without its line feed and its
  // carriage returns. Used for lines that are not plain, and for inputs
  // decoded as UTF-16 or UTF-32.
  void parseTextLine(const QString& line, std::int64_t index);

  // A tokenised plain line (defined in the .cc).
  struct PlainLine;

  // Internals of the conversion.
  // Each returns the start of the next line (past end, after the last).
  char* parsePlainOrOther(char* line, std::int64_t index);
  char* parseWithCarriageReturns(char* line, std::int64_t index);
  char* parseNotPlain(char* line, std::int64_t index);
  // False, having done nothing, for a line the form accepts.
  bool parseLongRejectedLine(char* line, char* textEnd, bool lastLine,
                             std::int64_t index);
  char* lineFeedOf(char* line) const;  // or the sentinel

  // `inPlace`: `text` lies in the parsed bytes, not in scratch_.
  void finishPlainLine(const char* text, const char* textEnd,
                       const PlainLine& scan, std::int64_t index,
                       bool inPlace);
  bool accepts(std::int64_t fields);

  ScanData& points_;
  RejectedLines& rejected_;
  int form_ = 0;

  // Valid during parse(): the range's end, and whether it ends the input.
  char* rangeEnd_ = nullptr;
  bool endsInput_ = false;

  // A line without its carriage returns; reused, grows to the longest one.
  std::string scratch_;
};

#endif  // SCANFIT_SCAN_ASCII_LINE_PARSER_H_
