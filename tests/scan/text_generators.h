// Generators of numbers, fields and text lines of every shape for the
// differential tests of the ASCII reader: deterministic from a seed.
#ifndef SCANFIT_TESTS_SCAN_TEXT_GENERATORS_H_
#define SCANFIT_TESTS_SCAN_TEXT_GENERATORS_H_

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

class NumberGenerator {
 public:
  explicit NumberGenerator(std::uint64_t seed) : rng_(seed) {}

  std::string digits(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char('0' + pick(10));
    return s;
  }

  // A number-like string: sign, digits, point, digits, exponent, with odd
  // variations now and then.
  std::string numberLike() {
    std::string s;
    switch (pick(12)) {
      case 0: s += '-'; break;
      case 1: s += '+'; break;
      case 2: if (chance(10)) s += pick(2) ? "--" : "+-"; break;
      default: break;
    }
    const int intDigits = lengthUpTo(pick(4) == 0 ? 30 : 8);
    if (chance(5)) s += std::string(pick(4) + 1, '0');
    s += digits(intDigits);
    if (pick(3) != 0) {
      s += '.';
      s += digits(lengthUpTo(pick(4) == 0 ? 30 : 9));
    }
    if (pick(3) == 0) {
      s += pick(2) ? 'e' : 'E';
      switch (pick(3)) {
        case 0: s += '-'; break;
        case 1: s += '+'; break;
        default: break;
      }
      const int e = pick(8) == 0 ? pick(6) : 1 + pick(3);
      if (chance(6)) s += "0";
      s += digits(e);
    }
    if (chance(30)) s.insert(pick(int(s.size()) + 1), 1, junkChar());
    return s;
  }

  std::string special() {
    static const char* const kWords[] = {
        "inf",  "-inf", "+inf", "INF",  "Inf",      "nan",      "NaN",
        "-nan", "+nan", "NAN",  "infinity", "Infinity", "-Infinity", "1,5",
        "0x10", "0X1p3", "1e39", "1e-50", "1e",      "1e+",      "e5",
        ".",    "-.",   "+.",   ".e1",  "1.e5",     "1..5",     "1.5.",
        "--1",  "+-1",  "-+1",  "1d5",  "1f",       "0b1",      "1_000",
        "1'000", "٣",   "",     "-",    "+",        "1e-0",     "1e+0",
        "00",   "-00",  "0e0",  "-0e-0", "0.",     "-0.",      ".0",
        "-.0",  "+.0",  "1e0005", "1e-0005", "9e99999", "1e-99999",
        "3.4028235e38", "3.4028236e38", "3.4028234e38", "-3.4028235e38",
        "340282346638528859811704183484516925440",
        "340282356779733661637539395458142568448",
        "340282356779733661637539395458142568447",
        "340282356779733661637539395458142568449",
        "1e-45", "1.4e-45", "7e-46", "7.1e-46", "7.006492321624085e-46",
        "7.006492321624086e-46", "1.401298464324817e-45", "1e-38", "1.17549435e-38",
        "2.2250738585072014e-308", "4.9e-324", "2e-324", "1.7976931348623157e308",
        "1.7976931348623159e308", "1e308", "1e309", "1e-320",
        "0.000000000000000000000000000000000000000000001",
        "123456789012345678901234567890", "1234567890123456789",
        "12345678901234567890", "9007199254740993", "9007199254740992",
        "18446744073709551615", "18446744073709551616", "1e22", "1e23",
        "8.589973e9", "0.1", "0.2", "0.3",
    };
    return kWords[pick(int(sizeof kWords / sizeof *kWords))];
  }

  // Decimal strings at and around the midpoint of two adjacent floats:
  // where rounding twice (to double, then to float) differs from rounding
  // once.
  std::string nearMidpoint() {
    float f;
    do {
      const std::uint32_t b = std::uint32_t(rng_()) & 0x7F7FFFFFu;
      std::memcpy(&f, &b, sizeof f);
    } while (!std::isfinite(f));
    const double lower = f;
    const double upper = std::nextafter(f, std::numeric_limits<float>::infinity());
    const double mid = (lower + upper) / 2;  // exact
    char buffer[64];
    const double offsets[] = {0.0, std::ldexp(mid, -60), -std::ldexp(mid, -60),
                              std::ldexp(mid, -54), -std::ldexp(mid, -54)};
    const double x = mid + offsets[pick(5)];
    std::snprintf(buffer, sizeof buffer, "%.*e", pick(25) + 1, x);
    std::string s = buffer;
    if (pick(2)) s = "-" + s;
    return s;
  }

  std::string printedFloat() {
    char buffer[64];
    float f;
    const std::uint32_t b = std::uint32_t(rng_());
    std::memcpy(&f, &b, sizeof f);
    switch (pick(4)) {
      case 0: std::snprintf(buffer, sizeof buffer, "%.9g", double(f)); break;
      case 1: std::snprintf(buffer, sizeof buffer, "%.17g", double(f)); break;
      case 2:
        std::snprintf(buffer, sizeof buffer, "%.*f", pick(10),
                      double(int(rng_() % 2000001) - 1000000) / 1000.0);
        break;
      default:
        std::snprintf(buffer, sizeof buffer, "%.7f",
                      (double(rng_() % 100000000) / 1e6) - 50.0);
        break;
    }
    return buffer;
  }

  std::string any() {
    switch (pick(10)) {
      case 0: return special();
      case 1: return nearMidpoint();
      case 2: case 3: return printedFloat();
      default: return numberLike();
    }
  }

  std::string shortLike() {
    std::string s;
    switch (pick(8)) {
      case 0: s += '-'; break;
      case 1: s += '+'; break;
      case 2: if (chance(5)) s += "+-"; break;
      default: break;
    }
    if (chance(4)) s += std::string(pick(20) + 1, '0');
    switch (pick(4)) {
      case 0: s += std::to_string(32760 + pick(16)); break;
      case 1: s += digits(lengthUpTo(25)); break;
      default: s += std::to_string(pick(70000)); break;
    }
    if (chance(10)) s.insert(pick(int(s.size()) + 1), 1, junkChar());
    if (chance(20)) s = special();
    return s;
  }

 protected:
  int pick(int n) { return int(rng_() % std::uint64_t(n)); }
  bool chance(int oneIn) { return pick(oneIn) == 0; }
  int lengthUpTo(int n) { return pick(n + 1); }
  char junkChar() {
    static const char kJunk[] = ".eE+-,x_ ab0'";
    return kJunk[pick(int(sizeof kJunk) - 1)];
  }

  std::mt19937_64 rng_;
};

// Text lines and whole inputs: fields of every shape, every kind of white
// space, carriage returns, byte-order marks, non-ASCII letters and spaces,
// invalid UTF-8, NUL and other control bytes, blank lines, 5 to 8 fields.
class LineGenerator : public NumberGenerator {
 public:
  explicit LineGenerator(std::uint64_t seed) : NumberGenerator(seed) {}

  std::string separator() {
    static const char* const kSeparators[] = {
        " ", " ", " ", " ", "  ", "\t", "\t\t", " \t ", "\v", "\f", "   ",
        "\r ", " \r", "\xC2\xA0", "\xE2\x80\x83", "\xE3\x80\x80",
        "\xC2\x85", "\xE2\x80\x87", "\xE2\x80\xA8",
    };
    const int n = sizeof kSeparators / sizeof *kSeparators;
    return kSeparators[chance(8) ? pick(n) : pick(13)];
  }

  std::string oddBytes() {
    static const char* const kOdd[] = {
        "\r",      "\r\r",   "(NUL)", "\x1C", "\x1D",
        "\x1E",    "\x1F",   "\x7F",  "\x01", "\x08", "\x0E",
        "\xC3\xA9", "\xC3\x9F", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80",
        "\x80",    "\xC3",   "\xE2\x82", "\xFF", "\xFE", "\xED\xA0\x80",
        "\xF4\x90\x80\x80", "\xC0\x80", "\xEF\xBB\xBF", "\xE2\x80\x8B",
        "\xC2\xA0", "\xE2\x88\x92", "\xEF\xBC\x91",
    };
    const int k = pick(int(sizeof kOdd / sizeof *kOdd));
    if (k == 2) return std::string(1, '\0');
    return kOdd[k];
  }

  std::string field() {
    std::string f = pick(8) == 0 ? word() : any();
    if (chance(25)) f.insert(pick(int(f.size()) + 1), oddBytes());
    return f;
  }

  std::string word() {
    static const char* const kWords[] = {"time", "lat", "lon", "x", "abc",
                                         "N/A", "--", "#", "\xC3\xA9t\xC3\xA9",
                                         "\xE4\xB8\xAD\xE6\x96\x87"};
    return kWords[pick(int(sizeof kWords / sizeof *kWords))];
  }

  int fieldCount() {
    const int r = pick(20);
    if (r < 8) return 6;
    if (r < 13) return 7;
    if (r < 15) return 5;
    if (r < 17) return 8;
    return pick(10);
  }

  std::string line(int fields) {
    std::string s;
    if (chance(6)) s += separator();
    for (int i = 0; i < fields; ++i) {
      if (i > 0) s += separator();
      s += field();
    }
    if (chance(6)) s += separator();
    if (chance(30)) s.insert(pick(int(s.size()) + 1), oddBytes());
    return s;
  }

  std::string line() { return line(fieldCount()); }

  // A whole input of about `lines` lines.
  std::string input(int lines) {
    std::string s;
    if (chance(10)) s += "\xEF\xBB\xBF";
    const bool crlf = chance(4);
    for (int i = 0; i < lines; ++i) {
      if (i > 0) s += crlf || chance(20) ? "\r\n" : "\n";
      if (chance(15)) continue;  // a blank line
      s += i == 0 && chance(4) ? line(7) : line();
    }
    if (pick(2)) s += crlf ? "\r\n" : "\n";
    return s;
  }

  // Bytes for the neighbourhood of a 16384-byte chunk boundary.
  char boundaryByte() {
    static const unsigned char kBytes[] = {0xC3, 0xE2, 0x82, 0xA9, 0xF0, 0x9F,
                                           0x98, 0x80, '\n', '\r', ' ', '1',
                                           'x',  0xFF, 0xED, 0xA0, '\t', 0};
    return char(kBytes[pick(int(sizeof kBytes))]);
  }

  int below(int n) { return pick(n); }
};

#endif  // SCANFIT_TESTS_SCAN_TEXT_GENERATORS_H_
