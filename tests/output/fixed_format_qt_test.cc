// Holds the fixed-width formatter against the Qt text stream it replaces,
// byte for byte, on millions of floats of every kind and on every short.
#include <gtest/gtest.h>

#include <QString>
#include <QTextStream>
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "output/fixed_format.h"
#include "test_scale.h"

namespace {

struct FieldFormat {
  int width;
  int decimals;
};

// The field formats the rows use.
constexpr FieldFormat kRowFormats[] = {{9, 6}, {11, 6}, {12, 6}, {10, 3}};

float floatFromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

uint32_t bitsOf(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// The literal stream sequence of a row field: width, precision, value.
std::string qtText(const std::vector<float>& values, FieldFormat format) {
  QString text;
  QTextStream stream(&text);
  stream << Qt::fixed;
  for (float v : values) {
    stream.setFieldWidth(format.width);
    stream.setRealNumberPrecision(format.decimals);
    stream << v;
  }
  stream.flush();
  return text.toStdString();
}

std::string ourText(const std::vector<float>& values, FieldFormat format) {
  std::string text;
  char field[fixedTextCapacity(12, kMaxDecimals)];
  for (float v : values)
    text.append(field, appendFixed(field, v, format.width, format.decimals));
  return text;
}

// Compares a whole batch at once (one stream is far cheaper than one per
// value); on a difference it names the first value that differs.
void expectSameAsQt(const std::vector<float>& values, FieldFormat format) {
  if (qtText(values, format) == ourText(values, format)) return;
  for (float v : values) {
    const std::vector<float> one{v};
    const std::string expected = qtText(one, format);
    const std::string actual = ourText(one, format);
    if (expected != actual) {
      ADD_FAILURE() << "bits 0x" << std::hex << bitsOf(v) << std::dec
                    << " width " << format.width << " decimals "
                    << format.decimals << ": Qt \"" << expected << "\", ours \""
                    << actual << "\"";
      return;
    }
  }
}

void expectSameAsQtInRowFormats(const std::vector<float>& values) {
  for (FieldFormat format : kRowFormats) expectSameAsQt(values, format);
}

void expectSameAsQtAtEveryPrecision(const std::vector<float>& values) {
  for (int decimals = 0; decimals <= kMaxDecimals; ++decimals)
    expectSameAsQt(values, {10, decimals});
}

TEST(FixedFormatAgainstQt, SpecialValues) {
  const std::vector<float> values = {
      0.0f,
      -0.0f,
      INFINITY,
      -INFINITY,
      floatFromBits(0x7fc00000),
      floatFromBits(0xffc00000),  // quiet NaNs
      floatFromBits(0x7f800001),
      floatFromBits(0xff800001),  // signalling
      floatFromBits(0x7fffffff),
      floatFromBits(0xffffffff),
      floatFromBits(0x7fa5a5a5),
      floatFromBits(0xff123456),
      FLT_MAX,
      -FLT_MAX,
      FLT_MIN,
      -FLT_MIN,
      FLT_TRUE_MIN,
      -FLT_TRUE_MIN,
      std::nextafter(FLT_MAX, 0.0f),
      std::nextafter(FLT_MIN, 0.0f),
      18446744073709551616.0f,
      std::nextafter(18446744073709551616.0f, 0.0f),
      -0.0001f,
      -0.0004999f,
      -0.0005f,
      0.0005f,
      -1e-30f};
  expectSameAsQtInRowFormats(values);
  expectSameAsQtAtEveryPrecision(values);
}

// Any bit pattern: NaNs with every payload, denormals, and the huge values
// (a third of all floats) that the stream writes slowly.
TEST(FixedFormatAgainstQt, RandomBitPatterns) {
  std::mt19937 random(20240611);
  std::vector<float> values(1 << 15);
  for (int batch = 0; batch < generatedCases(8); ++batch) {
    for (float& v : values) v = floatFromBits(random());
    expectSameAsQt(values, {10, 3});
    expectSameAsQt(values, kRowFormats[batch % 3]);
  }
  expectSameAsQtAtEveryPrecision(values);
}

// Every float below 2^33 has fraction bits that the rounding has to get
// right: a million of them, evenly spread over the exponents.
TEST(FixedFormatAgainstQt, RandomValuesWithFractions) {
  std::mt19937 random(31337);
  std::vector<float> values(1 << 16);
  for (int batch = 0; batch < generatedCases(16); ++batch) {
    for (float& v : values) {
      const uint32_t biasedExponent = random() % 160;
      v = floatFromBits((random() & 0x807fffffu) | biasedExponent << 23);
    }
    expectSameAsQt(values, {10, 3});
    expectSameAsQt(values, kRowFormats[batch % 3]);
  }
}

TEST(FixedFormatAgainstQt, Denormals) {
  std::mt19937 random(7);
  std::vector<float> values(1 << 15);
  for (float& v : values) v = floatFromBits(random() & 0x807fffffu);
  expectSameAsQtInRowFormats(values);
}

// Fifty floats on either side of every power of ten a float can come near,
// of both signs: where the digit count and the rounding carries change.
TEST(FixedFormatAgainstQt, NearPowersOfTen) {
  std::vector<float> values;
  for (int exponent = -45; exponent <= 38; ++exponent) {
    const float power = static_cast<float>(std::pow(10.0L, exponent));
    float below = power, above = power;
    for (int step = 0; step < 50; ++step) {
      below = std::nextafter(below, 0.0f);
      above = std::nextafter(above, INFINITY);
      values.insert(values.end(), {below, above, -below, -above});
    }
    values.insert(values.end(), {power, -power});
  }
  expectSameAsQtInRowFormats(values);
  expectSameAsQtAtEveryPrecision(values);
}

// Exact ties at three decimals are the odd multiples of 1/16, at six the
// odd multiples of 1/128; the other short dyadic fractions sit next to
// them. Every k/2^n with odd k below 2^14 and n up to 10, of both signs.
TEST(FixedFormatAgainstQt, DyadicFractionsAndTies) {
  std::vector<float> values;
  for (int n = 1; n <= 10; ++n) {
    for (int k = 1; k < (1 << 14); k += 2) {
      const float v = std::ldexp(static_cast<float>(k), -n);
      values.push_back(v);
      values.push_back(-v);
    }
  }
  expectSameAsQt(values, {10, 3});
  expectSameAsQt(values, {12, 6});
}

// Ties in the full range of the fields: large odd multiples of 1/16 and
// 1/128, up to where a float holds no more fractional bits.
TEST(FixedFormatAgainstQt, LargeTies) {
  std::mt19937 random(99);
  std::vector<float> sixteenths, hundredTwentyEighths;
  for (int i = 0; i < 100000; ++i) {
    const float sign = (i & 1) ? -1.0f : 1.0f;
    sixteenths.push_back(sign *
                         std::ldexp(float(random() % (1u << 24) | 1), -4));
    hundredTwentyEighths.push_back(
        sign * std::ldexp(float(random() % (1u << 24) | 1), -7));
  }
  expectSameAsQt(sixteenths, {10, 3});
  expectSameAsQt(hundredTwentyEighths, {12, 6});
}

// The floats nearest to decimals ending in 5 right after the last written
// digit, and their neighbours: the closest calls a rounding rule can get.
TEST(FixedFormatAgainstQt, NearDecimalMidpoints) {
  std::mt19937_64 random(5);
  for (FieldFormat format : {FieldFormat{10, 3}, FieldFormat{11, 6}}) {
    const double unit = std::pow(10.0, -format.decimals);
    std::vector<float> values;
    for (int i = 0; i < 60000; ++i) {
      const double magnitude = std::pow(10.0, double(random() % 9) - 2);
      const double whole =
          std::floor(double(random() % 1000000) / 1e6 * magnitude / unit);
      const float nearest = static_cast<float>((whole + 0.5) * unit);
      values.insert(values.end(),
                    {nearest, std::nextafter(nearest, 0.0f),
                     std::nextafter(nearest, INFINITY), -nearest});
    }
    expectSameAsQt(values, format);
  }
}

TEST(FixedFormatAgainstQt, EveryShort) {
  QString text;
  QTextStream stream(&text);
  stream << Qt::fixed;
  std::string ours;
  char field[shortTextCapacity(4)];
  for (int v = SHRT_MIN; v <= SHRT_MAX; ++v) {
    stream.setFieldWidth(4);
    stream.setRealNumberPrecision(0);
    stream << static_cast<short>(v);
    ours.append(field, appendShort(field, static_cast<short>(v), 4));
  }
  stream.flush();
  const std::string expected = text.toStdString();
  const size_t at = static_cast<size_t>(
      std::mismatch(expected.begin(), expected.end(), ours.begin(), ours.end())
          .first -
      expected.begin());
  EXPECT_EQ(expected.size(), ours.size());
  EXPECT_EQ(at, expected.size())
      << "first difference near \"" << expected.substr(at < 8 ? 0 : at - 8, 16)
      << "\"";
}

}  // namespace
