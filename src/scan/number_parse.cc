#include "scan/number_parse.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace {

// Powers of ten that a double holds exactly.
constexpr double kExactPowersOfTen[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kMaxExactPowerOfTen = 22;
constexpr std::uint64_t kMaxExactMantissa = std::uint64_t(1) << 53;
// A mantissa of up to 19 decimal digits fits 64 bits.
constexpr int kMaxMantissaDigits = 19;
constexpr int kMaxExponentDigits = 3;
constexpr int kMaxShortDigits = 18;

inline bool isDigit(char c) {
  return static_cast<unsigned char>(c - '0') < 10;
}

// QLocaleData::convertDoubleToFloat of Qt 6 for a finite double, with the
// failures (ok == false) giving 0.
inline float doubleToFloatLikeQt(double d) {
  if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max()))
    return 0.0f;
  const float f = static_cast<float>(d);
  if (d != 0 && f == 0) return 0.0f;
  return f;
}

}  // namespace

const char* scanFloatField(const char* p, float* value) {
  const char* const start = p;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* const unsignedStart = p;

  // The digit loops wrap the mantissa past 19 digits; it is not used then.
  std::uint64_t mantissa = 0;
  while (isDigit(*p)) mantissa = mantissa * 10 + unsigned(*p++ - '0');
  std::ptrdiff_t digits = p - unsignedStart;
  std::ptrdiff_t fractionDigits = 0;
  if (*p == '.') {
    const char* const fractionStart = ++p;
    while (isDigit(*p)) mantissa = mantissa * 10 + unsigned(*p++ - '0');
    fractionDigits = p - fractionStart;
    digits += fractionDigits;
  }
  if (digits == 0) return nullptr;

  int exponent = 0;
  if ((*p | 0x20) == 'e') {
    const char* e = p + 1;
    const bool negativeExponent = *e == '-';
    if (negativeExponent || *e == '+') ++e;
    const char* const exponentStart = e;
    while (isDigit(*e)) {
      if (e - exponentStart == kMaxExponentDigits) return nullptr;
      exponent = exponent * 10 + (*e++ - '0');
    }
    const std::ptrdiff_t exponentDigits = e - exponentStart;
    // An "e" without digits is not part of the number: the field goes on
    // past the match and so goes to Qt.
    if (exponentDigits > 0) {
      p = e;
      if (negativeExponent) exponent = -exponent;
    }
  }
  if (p - start > kFastFloatMaxLength) return nullptr;

  if (digits <= kMaxMantissaDigits) {
    const int scale = exponent - static_cast<int>(fractionDigits);
    double d;
    if (mantissa == 0) {
      d = 0.0;
    } else if (mantissa <= kMaxExactMantissa && scale >= -kMaxExactPowerOfTen &&
               scale <= kMaxExactPowerOfTen) {
      // Both operands exact, one rounding: the correctly rounded double.
      const double m = static_cast<double>(mantissa);
      d = scale < 0 ? m / kExactPowersOfTen[-scale]
                    : m * kExactPowersOfTen[scale];
    } else {
      goto slowDouble;
    }
    *value = doubleToFloatLikeQt(negative ? -d : d);
    return p;
  }

slowDouble:
  // std::from_chars (GCC 12) rounds correctly, like Qt's double-conversion.
  // It takes no "+": start after it, or at the "-".
  {
    double d = 0.0;
    const char* const from = negative ? unsignedStart - 1 : unsignedStart;
    const std::from_chars_result r = std::from_chars(from, p, d);
    if (r.ptr != p) return nullptr;  // not expected: let Qt decide
    // Out of range: the double overflows or underflows, and Qt fails too.
    *value = r.ec == std::errc() ? doubleToFloatLikeQt(d) : 0.0f;
    return p;
  }
}

const char* scanShortField(const char* p, short* value) {
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  const char* const digitsStart = p;
  std::int64_t v = 0;
  while (isDigit(*p)) {
    if (p - digitsStart == kMaxShortDigits) return nullptr;
    v = v * 10 + (*p++ - '0');
  }
  if (p == digitsStart) return nullptr;
  if (negative) v = -v;
  *value = v >= std::numeric_limits<short>::min() &&
                   v <= std::numeric_limits<short>::max()
               ? static_cast<short>(v)
               : short(0);
  return p;
}

float qtStringToFloat(const QString& field) {
  bool ok = false;
  const float f = field.toFloat(&ok);
  return ok ? f : 0.0f;
}

short qtStringToShort(const QString& field) {
  bool ok = false;
  const short v = field.toShort(&ok, 10);
  return ok ? v : short(0);
}

float qtFieldToFloat(const char* begin, const char* end) {
  return qtStringToFloat(QString::fromLatin1(begin, end - begin));
}

short qtFieldToShort(const char* begin, const char* end) {
  return qtStringToShort(QString::fromLatin1(begin, end - begin));
}
