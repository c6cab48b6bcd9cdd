// Field conversions of the ASCII scanner file reader, equal to Qt 6's
// QString::toFloat and QString::toShort(&ok, 10) on every input, with a
// field that fails to convert giving 0 (+0.0f for floats).
//
// Qt 6's toFloat parses a correctly rounded double and converts it to float:
// it fails when the double overflows or underflows, when its magnitude
// exceeds FLT_MAX, and when a non-zero double becomes 0 as a float. The fast
// scanners below handle a tight grammar with that same two-step rounding;
// every other field goes to Qt itself (qtFieldToFloat, qtFieldToShort), so
// the rare forms ("inf", "nan", odd signs, very long digit strings, huge
// exponents, anything not a plain number) are exact by construction.
#ifndef SCANFIT_SCAN_NUMBER_PARSE_H_
#define SCANFIT_SCAN_NUMBER_PARSE_H_

#include <QString>

#include <cstddef>

// Longest field the fast float scanner takes; longer fields go to Qt.
constexpr std::ptrdiff_t kFastFloatMaxLength = 64;

// In-place scanners for fields inside a line buffer. They read from `p`
// for as long as the text matches their grammar and return the end of the
// match, or nullptr when the text does not start with a match (or the match
// is too long for the fast path). The byte at the returned end is not part
// of the number: only if it ends the field (white space or the line end)
// is `*value` the converted field. The bytes must be terminated by some
// byte outside the grammar (a line feed, for instance).
//
// Float grammar: [+-]? (digits [. digits?] | . digits) ([eE] [+-]? digits{1,3})?
// with at most kFastFloatMaxLength bytes in all.
const char* scanFloatField(const char* p, float* value);
// Short grammar: [+-]? digits{1,18}.
const char* scanShortField(const char* p, short* value);

// The real Qt conversions, 0 on failure: QString::toFloat, and
// QString::toShort(&ok, 10).
float qtStringToFloat(const QString& field);
short qtStringToShort(const QString& field);

// The same for an ASCII field given as bytes (Latin-1 decoding).
float qtFieldToFloat(const char* begin, const char* end);
short qtFieldToShort(const char* begin, const char* end);

#endif  // SCANFIT_SCAN_NUMBER_PARSE_H_
