#include "scan/rejected_lines.h"

void RejectedLines::addInPlace(std::int64_t line, std::int64_t fields,
                               const char* text, std::size_t length) {
  lines.push_back({line, fields, text, 0, length});
}

void RejectedLines::addCopy(std::int64_t line, std::int64_t fields,
                            const char* text, std::size_t length) {
  lines.push_back({line, fields, nullptr, copies.size(), length});
  copies.append(text, length);
}

void RejectedLines::clear() {
  lines.clear();
  copies.clear();
}
