// The messages of the text lines a run rejects for their field count, one
// message line each: the line's index in the input (from 0), its field
// count and its text, "<index> <fields> <text>".
#ifndef SCANFIT_DRIVER_REJECTED_MESSAGES_H_
#define SCANFIT_DRIVER_REJECTED_MESSAGES_H_

#include <cstdint>
#include <iosfwd>

#include "scan/rejected_lines.h"

// Writes one message line per rejected line to `out`, in order, the index
// of each counted from `firstLineIndex`.
void writeRejectedLines(std::ostream& out, const RejectedLines& rejected,
                        std::int64_t firstLineIndex);

#endif  // SCANFIT_DRIVER_REJECTED_MESSAGES_H_
