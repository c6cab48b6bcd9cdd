// Fixed-width number text for the text outputs. The files must hold exactly
// what a Qt text stream writes for a float (widened to double) in fixed
// notation with a field width and a real-number precision, and for a short
// with a field width, but some ten nanoseconds per value instead of the
// stream's near microsecond. The digits come from exact integer arithmetic on
// the float's significand and exponent, so every value, huge, tiny or a
// rounding tie, is written exactly as its decimal expansion dictates.
//
// Writers format into a caller's buffer and get back the new end; the
// caller provides at least the capacity the helpers below state.
#ifndef SCANFIT_OUTPUT_FIXED_FORMAT_H_
#define SCANFIT_OUTPUT_FIXED_FORMAT_H_

#include <cstddef>

// The formatter stores whole words: the blanks of a narrow field in one
// go, digits eight at a time. It may overwrite up to this many bytes past
// the end it returns, so every field needs that much room beyond its text.
constexpr size_t kFieldSlack = 16;

constexpr int kMaxDecimals = 6;

// Room for a float field: its width or its longest text, whichever is more
// (a sign, the 39 integer digits of the largest float, the point and the
// decimals), and the slack.
constexpr size_t fixedTextCapacity(int width, int decimals) {
  return static_cast<size_t>(width > 41 + decimals ? width : 41 + decimals) +
         kFieldSlack;
}
// Room for a short field; "-32768" is the longest short.
constexpr size_t shortTextCapacity(int width) {
  return static_cast<size_t>(width > 6 ? width : 6) + kFieldSlack;
}

// `value` in fixed notation with `decimals` places (0 to kMaxDecimals),
// rounded to nearest with ties away from zero, right-aligned with blanks in
// at least `width` characters. NaN of either sign is "nan", infinities "inf"
// and
// "-inf". A minus is written for every value below zero, even when it
// rounds to zero; -0.0 gets none.
char* appendFixed(char* out, float value, int width, int decimals);

// `value` in decimal, right-aligned with blanks in at least `width`
// characters.
char* appendShort(char* out, short value, int width);

// A line feed padded like a value: `width` - 1 blanks, then "\n". The text
// stream pads the line end with the last field's width still in force.
inline char* appendRowEnd(char* out, int width) {
  for (int i = 1; i < width; ++i) *out++ = ' ';
  *out++ = '\n';
  return out;
}

#endif  // SCANFIT_OUTPUT_FIXED_FORMAT_H_
