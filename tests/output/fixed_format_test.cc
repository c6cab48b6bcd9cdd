// The number forms of the text outputs, worked out by hand from the values'
// exact binary expansions.
#include "output/fixed_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

namespace {

std::string fixedText(float value, int width, int decimals) {
  char text[fixedTextCapacity(12, kMaxDecimals)];
  return std::string(text, appendFixed(text, value, width, decimals));
}

std::string shortText(short value, int width) {
  char text[shortTextCapacity(4)];
  return std::string(text, appendShort(text, value, width));
}

TEST(FixedFormat, SignOfZeroAndOfValuesThatRoundToZero) {
  EXPECT_EQ(fixedText(0.0f, 10, 3), "     0.000");
  EXPECT_EQ(fixedText(-0.0f, 10, 3), "     0.000");
  EXPECT_EQ(fixedText(-0.0001f, 10, 3), "    -0.000");
  EXPECT_EQ(fixedText(FLT_TRUE_MIN, 9, 6), " 0.000000");
  EXPECT_EQ(fixedText(-FLT_TRUE_MIN, 9, 6), "-0.000000");
  EXPECT_EQ(fixedText(-0.0f, 4, 0), "   0");
  EXPECT_EQ(fixedText(-0.25f, 4, 0), "  -0");
}

TEST(FixedFormat, NonFiniteValuesArePaddedLikeNumbers) {
  EXPECT_EQ(fixedText(std::nanf(""), 10, 3), "       nan");
  EXPECT_EQ(fixedText(-std::nanf(""), 10, 3), "       nan");
  EXPECT_EQ(fixedText(INFINITY, 9, 6), "      inf");
  EXPECT_EQ(fixedText(-INFINITY, 12, 6), "        -inf");
  EXPECT_EQ(fixedText(-INFINITY, 2, 6), "-inf");
}

// 1.0625 = 17/16 and 33.1953125 = 4249/128 end in a 5 just after the last
// written decimal; 2047/2048 = 0.99951171875 rounds up into the units.
TEST(FixedFormat, TiesRoundAwayFromZeroAndCarry) {
  EXPECT_EQ(fixedText(1.0625f, 10, 3), "     1.063");
  EXPECT_EQ(fixedText(-1.0625f, 10, 3), "    -1.063");
  EXPECT_EQ(fixedText(0.9375f, 10, 3), "     0.938");
  EXPECT_EQ(fixedText(33.1953125f, 11, 6), "  33.195313");
  EXPECT_EQ(fixedText(-33.1953125f, 11, 6), " -33.195313");
  EXPECT_EQ(fixedText(2.5f, 3, 0), "  3");
  EXPECT_EQ(fixedText(-0.5f, 3, 0), " -1");
  EXPECT_EQ(fixedText(2047.0f / 2048.0f, 10, 3), "     1.000");
  EXPECT_EQ(fixedText(99.99951171875f, 10, 3), "   100.000");
  // 1 - 7 * 2^-24 = 0.99999958276...
  EXPECT_EQ(fixedText(1.0f - 7 * std::ldexp(1.0f, -24), 9, 6), " 1.000000");
}

// Six decimals show digits beyond what a float holds.
TEST(FixedFormat, WritesTheStoredFloatNotTheDecimalItCameFrom) {
  EXPECT_EQ(fixedText(-33.867487f, 11, 6), " -33.867489");
  EXPECT_EQ(fixedText(45.123456f, 11, 6), "  45.123455");
  EXPECT_EQ(fixedText(123456.789f, 10, 3), "123456.789");
}

TEST(FixedFormat, HugeValuesKeepEveryIntegerDigit) {
  // (2^24 - 1) * 2^104, 39 digits.
  EXPECT_EQ(fixedText(FLT_MAX, 10, 3),
            "340282346638528859811704183484516925440.000");
  EXPECT_EQ(fixedText(-FLT_MAX, 9, 6),
            "-340282346638528859811704183484516925440.000000");
  // Either side of 2^64, where the integer part outgrows 64 bits.
  EXPECT_EQ(fixedText(18446744073709551616.0f, 10, 3),
            "18446744073709551616.000");
  EXPECT_EQ(fixedText(std::nextafter(18446744073709551616.0f, 0.0f), 10, 3),
            "18446742974197923840.000");
  EXPECT_EQ(fixedText(1e10f, 10, 3), "10000000000.000");
}

TEST(FixedFormat, WideValuesAreWrittenWholeAndNarrowOnesRightAligned) {
  EXPECT_EQ(fixedText(43200.5f, 9, 6), "43200.500000");
  EXPECT_EQ(fixedText(-133.75f, 11, 6), "-133.750000");
  EXPECT_EQ(fixedText(1.5f, 12, 6), "    1.500000");
  EXPECT_EQ(fixedText(1.5f, 0, 3), "1.500");
  EXPECT_EQ(fixedText(-1.5f, 40, 3), std::string(34, ' ') + "-1.500");
}

TEST(FixedFormat, Shorts) {
  EXPECT_EQ(shortText(0, 4), "   0");
  EXPECT_EQ(shortText(-5, 4), "  -5");
  EXPECT_EQ(shortText(125, 4), " 125");
  EXPECT_EQ(shortText(-999, 4), "-999");
  EXPECT_EQ(shortText(-1000, 4), "-1000");
  EXPECT_EQ(shortText(32767, 4), "32767");
  EXPECT_EQ(shortText(-32768, 4), "-32768");
}

TEST(FixedFormat, RowEndIsALineFeedPaddedToItsWidth) {
  char text[16];
  EXPECT_EQ(std::string(text, appendRowEnd(text, 10)), "         \n");
  EXPECT_EQ(std::string(text, appendRowEnd(text, 1)), "\n");
}

}  // namespace
