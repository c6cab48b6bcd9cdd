#include "output/fixed_format.h"

#include <array>
#include <cstdint>
#include <cstring>

// Digits are built eight to a 64-bit word, first digit in the lowest byte,
// and stored whole: that is the text order only on a little-endian machine.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "digit words assume little-endian byte order");

namespace {

using uint128 = unsigned __int128;

constexpr uint64_t kPow10[20] = {1ull,
                                 10ull,
                                 100ull,
                                 1000ull,
                                 10000ull,
                                 100000ull,
                                 1000000ull,
                                 10000000ull,
                                 100000000ull,
                                 1000000000ull,
                                 10000000000ull,
                                 100000000000ull,
                                 1000000000000ull,
                                 10000000000000ull,
                                 100000000000000ull,
                                 1000000000000000ull,
                                 10000000000000000ull,
                                 100000000000000000ull,
                                 1000000000000000000ull,
                                 10000000000000000000ull};

constexpr char kBlanks[kFieldSlack + 1] = "                ";

inline void storeWord(char* at, uint64_t word) {
  std::memcpy(at, &word, sizeof word);
}

// From the bit length, without a division per digit: 1233/4096 is
// log10(2) to four places.
inline int digitCount(uint64_t v) {
  const int bits = 64 - __builtin_clzll(v | 1);
  const int guess = bits * 1233 >> 12;
  return guess + ((v | 1) >= kPow10[guess]);
}

// The eight decimal digits of n < 10^8, leading zeros included, as ASCII
// in one word: the halves, quarters and digits are split in parallel
// lanes by multiplying with reciprocals.
inline uint64_t eightDigits(uint32_t n) {
  const uint64_t halves = (n / 10000) | (uint64_t(n % 10000) << 32);
  const uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Full;
  const uint64_t pairs = hundreds | ((halves - 100 * hundreds) << 16);
  const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;
  return (tens | ((pairs - 10 * tens) << 8)) + 0x3030303030303030ull;
}

// The last `count` (1 to 16) digits of n < 10^16, stored from `at` on,
// given the word of its last eight. Up to seven bytes after them are
// overwritten.
inline void storeDigits(char* at, uint64_t n, uint64_t lastEight, int count) {
  if (count <= 8) {
    storeWord(at, lastEight >> (8 * (8 - count)));
  } else {
    storeWord(at, eightDigits(uint32_t(n / 100000000)) >> (8 * (16 - count)));
    storeWord(at + count - 8, lastEight);
  }
}

// Blanks up to `width`, for a text of `length` characters that ends at the
// returned end.
inline char* fieldEnd(char* out, size_t length, int width) {
  const size_t size = length < size_t(width) ? size_t(width) : length;
  // Whole 16-byte stores: the digits overwrite what lands past the blanks.
  std::memcpy(out, kBlanks, kFieldSlack);
  for (size_t at = kFieldSlack; at < size - length; at += kFieldSlack)
    std::memcpy(out + at, kBlanks, kFieldSlack);
  return out + size;
}

char* padAndCopy(char* out, const char* text, size_t length, int width) {
  char* end = fieldEnd(out, length, width);
  std::memcpy(end - length, text, length);
  return end;
}

__attribute__((noinline)) char* appendNonFinite(char* out, bool negative,
                                                bool nan, int width) {
  if (nan) return padAndCopy(out, "nan", 3, width);
  if (negative) return padAndCopy(out, "-inf", 4, width);
  return padAndCopy(out, "inf", 3, width);
}

char* digitsBackward(char* end, uint64_t v) {
  do {
    *--end = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  return end;
}

// Floats of 2^33 and more are whole numbers of up to 39 digits, written
// from 128-bit arithmetic: slow, and rare in scanner data.
__attribute__((noinline)) char* appendHuge(char* out, bool negative,
                                           uint128 integer, int width,
                                           int decimals) {
  char text[fixedTextCapacity(0, kMaxDecimals)];
  char* const end = text + sizeof text;
  char* start = end - decimals;
  std::memset(start, '0', static_cast<size_t>(decimals));
  if (decimals > 0) *--start = '.';
  constexpr uint64_t kChunk = kPow10[19];
  while (integer > UINT64_MAX) {
    const char* chunkEnd = start;
    start = digitsBackward(start, uint64_t(integer % kChunk));
    while (start > chunkEnd - 19) *--start = '0';
    integer /= kChunk;
  }
  start = digitsBackward(start, uint64_t(integer));
  if (negative) *--start = '-';
  return padAndCopy(out, start, size_t(end - start), width);
}

// `units` is the value in units of 10^-Decimals, below 10^16. The digits
// are stored whole, then the decimals again one place further right, after
// the point.
template <int Decimals>
inline char* appendUnits(char* out, bool negative, uint64_t units, int width) {
  const int count = digitCount(units);
  const int shown = count > Decimals ? count : Decimals + 1;
  const size_t length = size_t(negative) + size_t(shown) + (Decimals > 0);
  char* const end = fieldEnd(out, length, width);
  char* const digits = end - shown - (Decimals > 0);
  if (negative) digits[-1] = '-';
  const uint64_t lastEight = eightDigits(uint32_t(units % 100000000));
  storeDigits(digits, units, lastEight, shown);
  if constexpr (Decimals > 0) {
    const uint64_t decimals = lastEight >> (8 * (8 - Decimals));
    storeWord(digits + shown - Decimals, '.' | (decimals << 8));
  }
  return end;
}

// One function per number of decimals keeps the common path short; the
// rare kinds of value leave it early.
template <int Decimals>
__attribute__((noinline)) char* appendFixedWith(char* out, float value,
                                                int width) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bool negative = (bits >> 31) != 0;
  const int biased = static_cast<int>((bits >> 23) & 0xff);
  const uint32_t stored = bits & 0x7fffff;
  if (biased == 0xff) return appendNonFinite(out, negative, stored != 0, width);

  // value = significand * 2^exponent, exactly.
  const uint64_t significand = biased ? (stored | 0x800000u) : stored;
  const int exponent = (biased ? biased : 1) - 150;
  if (significand == 0) negative = false;
  if (exponent > 9)
    return appendHuge(out, negative, uint128(significand) << exponent, width,
                      Decimals);

  // significand * 10^Decimals stays below 2^44, and the units below
  // 2^53 < 10^16. Shifted right by more than 44 the product leaves nothing,
  // not even half a unit; otherwise the last bit shifted out decides the
  // rounding, a tie going up.
  const uint64_t scaled = significand * kPow10[Decimals];
  uint64_t units = 0;
  if (exponent >= 0) {
    units = scaled << exponent;
  } else if (exponent > -64) {
    const int shift = -exponent;
    units = (scaled >> shift) + ((scaled >> (shift - 1)) & 1);
  }
  return appendUnits<Decimals>(out, negative, units, width);
}

}  // namespace

char* appendFixed(char* out, float value, int width, int decimals) {
  switch (decimals) {
    case 0:
      return appendFixedWith<0>(out, value, width);
    case 1:
      return appendFixedWith<1>(out, value, width);
    case 2:
      return appendFixedWith<2>(out, value, width);
    case 3:
      return appendFixedWith<3>(out, value, width);
    case 4:
      return appendFixedWith<4>(out, value, width);
    case 5:
      return appendFixedWith<5>(out, value, width);
    default:
      return appendFixedWith<6>(out, value, width);
  }
}

namespace {

// Point rows write small integers (sweep indices, col4) in fields of four:
// those of up to three digits come whole from a table.
constexpr int kTabledShorts = 1000;

struct FourWide {
  char text[4];
};

constexpr std::array<FourWide, kTabledShorts> makeFourWide() {
  std::array<FourWide, kTabledShorts> table{};
  for (int v = 0; v < kTabledShorts; ++v) {
    int rest = v;
    for (int at = 3; at >= 0; --at) {
      table[v].text[at] = (at == 3 || rest > 0) ? char('0' + rest % 10) : ' ';
      rest /= 10;
    }
  }
  return table;
}

constexpr std::array<FourWide, kTabledShorts> kFourWide = makeFourWide();

}  // namespace

char* appendShort(char* out, short value, int width) {
  if (width == 4 && value >= 0 && value < kTabledShorts) {
    std::memcpy(out, kFourWide[value].text, 4);
    return out + 4;
  }
  const int wide = value;
  const uint64_t magnitude = static_cast<uint64_t>(wide < 0 ? -wide : wide);
  const int count = digitCount(magnitude);
  char* const end = fieldEnd(out, size_t(wide < 0) + size_t(count), width);
  if (wide < 0) end[-count - 1] = '-';
  storeDigits(end - count, magnitude, eightDigits(uint32_t(magnitude)), count);
  return end;
}
