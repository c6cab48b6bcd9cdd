// Text lines the ASCII reader rejects for their field count, kept for
// their messages (driver/rejected_messages.h). A block of the input is
// converted without knowing how many lines came before it, so the reader
// keeps each line's index within its block and the message gets the
// block's first index once the blocks before it are counted.
#ifndef SCANFIT_SCAN_REJECTED_LINES_H_
#define SCANFIT_SCAN_REJECTED_LINES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RejectedLine {
  std::int64_t line;    // index of the text line within its block
  std::int64_t fields;  // its field count
  // The text as reported: in the block's own bytes, which outlive the
  // message, or else at `copyOffset` in RejectedLines::copies. A huge
  // line is then never held twice.
  const char* text;
  std::size_t copyOffset;
  std::size_t length;
};

struct RejectedLines {
  std::vector<RejectedLine> lines;
  std::string copies;

  // `text` stays valid until the messages are written: the block's bytes.
  void addInPlace(std::int64_t line, std::int64_t fields, const char* text,
                  std::size_t length);
  // `text` is copied.
  void addCopy(std::int64_t line, std::int64_t fields, const char* text,
               std::size_t length);

  std::size_t size() const { return lines.size(); }
  void clear();
};

#endif  // SCANFIT_SCAN_REJECTED_LINES_H_
