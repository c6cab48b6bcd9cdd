#include "driver/rejected_messages.h"

#include <charconv>
#include <ostream>
#include <string>

namespace {

// Messages are handed to the stream in pieces of about this size; a text
// at least this long is handed over where it lies.
constexpr std::size_t kMessageChunk = std::size_t(64) << 10;

void appendNumber(std::string& out, std::int64_t value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void writeOut(std::ostream& out, const char* bytes, std::size_t n) {
  out.write(bytes, static_cast<std::streamsize>(n));
}

}  // namespace

void writeRejectedLines(std::ostream& out, const RejectedLines& rejected,
                        std::int64_t firstLineIndex) {
  std::string pending;
  for (const RejectedLine& r : rejected.lines) {
    const char* const text =
        r.text != nullptr ? r.text : rejected.copies.data() + r.copyOffset;
    appendNumber(pending, firstLineIndex + r.line);
    pending.push_back(' ');
    appendNumber(pending, r.fields);
    pending.push_back(' ');
    if (r.length >= kMessageChunk) {
      writeOut(out, pending.data(), pending.size());
      pending.clear();
      writeOut(out, text, r.length);
    } else {
      pending.append(text, r.length);
    }
    pending.push_back('\n');
    if (pending.size() >= kMessageChunk) {
      writeOut(out, pending.data(), pending.size());
      pending.clear();
    }
  }
  writeOut(out, pending.data(), pending.size());
  out.flush();
}
