// The field conversions against Qt 6's QString::toFloat and
// QString::toShort(&ok, 10) (0 on failure), on millions of generated
// strings of every shape, compared to the bit.
#include "scan/number_parse.h"
#include "scan/text_generators.h"

#include <QString>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "test_scale.h"

namespace {

std::uint32_t bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

float qtFloat(const std::string& s) {
  bool ok = false;
  const float f = QString::fromLatin1(s.data(), qsizetype(s.size())).toFloat(&ok);
  return ok ? f : 0.0f;
}

short qtShort(const std::string& s) {
  bool ok = false;
  const short v =
      QString::fromLatin1(s.data(), qsizetype(s.size())).toShort(&ok, 10);
  return ok ? v : short(0);
}

// A field as the line parser converts it: the fast scanner when it takes
// the whole field (which ends at white space or the line end), Qt
// otherwise.
template <typename T, typename Scan, typename Qt>
T convertField(const std::string& s, Scan scan, Qt qt) {
  const std::string terminated = s + '\n';
  T value{};
  const char* end = scan(terminated.data(), &value);
  if (end == terminated.data() + s.size()) return value;
  return qt(s.data(), s.data() + s.size());
}

float ours(const std::string& s) {
  return convertField<float>(s, scanFloatField, qtFieldToFloat);
}

short oursShort(const std::string& s) {
  return convertField<short>(s, scanShortField, qtFieldToShort);
}

// Whether the fast scanner alone takes the whole string.
bool fast(const std::string& s) {
  std::string t = s + '\n';
  float v;
  const char* end = scanFloatField(t.data(), &v);
  return end == t.data() + s.size();
}

TEST(NumberParse, FloatEqualsQtOnGeneratedStrings) {
  NumberGenerator gen(20240601);
  const int kCount = generatedCases(3000000);
  int mismatches = 0, fastCount = 0;
  for (int i = 0; i < kCount; ++i) {
    const std::string s = gen.any();
    const float expected = qtFloat(s);
    const float actual = ours(s);
    if (fast(s)) ++fastCount;
    if (bits(expected) != bits(actual) && ++mismatches <= 20)
      ADD_FAILURE() << "\"" << s << "\": got " << actual << " ("
                    << std::hex << bits(actual) << "), Qt gives " << expected
                    << " (" << bits(expected) << ")" << std::dec;
  }
  EXPECT_EQ(mismatches, 0);
  // The fast path must take most of them, or the test proves little.
  EXPECT_GT(fastCount, kCount / 2);
  std::printf("[ info ] %d of %d strings taken by the fast scanner\n",
              fastCount, kCount);
}

TEST(NumberParse, ShortEqualsQtOnGeneratedStrings) {
  NumberGenerator gen(77);
  int mismatches = 0;
  for (int i = 0; i < generatedCases(1000000); ++i) {
    const std::string s = gen.shortLike();
    const short expected = qtShort(s);
    const short actual = oursShort(s);
    if (expected != actual && ++mismatches <= 20)
      ADD_FAILURE() << "\"" << s << "\": got " << actual << ", Qt gives "
                    << expected;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(NumberParse, EveryShortAndItsNeighbours) {
  for (int v = -40000; v <= 40000; ++v) {
    for (const std::string& s :
         {std::to_string(v), "+" + std::to_string(v), "0" + std::to_string(v)})
      ASSERT_EQ(oursShort(s), qtShort(s)) << s;
  }
}

TEST(NumberParse, NamedFloatCases) {
  const struct {
    const char* text;
    std::uint32_t bits;
  } cases[] = {
      {"1.5", 0x3FC00000}, {"+1.5", 0x3FC00000}, {".5", 0x3F000000},
      {"5.", 0x40A00000},  {"-0", 0x80000000},   {"+0", 0},
      {"inf", 0x7F800000}, {"-inf", 0xFF800000}, {"INF", 0x7F800000},
      {"nan", 0x7FC00000}, {"-nan", 0},          {"1,5", 0},
      {"0x10", 0},         {"1e39", 0},          {"1e-50", 0},
      {"3.4028235e38", 0}, {"3.4028234e38", 0x7F7FFFFF},
      {"1e-45", 1},        {"1.4e-45", 1},       {"7e-46", 0},
      {"7.1e-46", 1},      {"1e-400", 0},        {"1e400", 0},
  };
  for (const auto& c : cases) {
    const std::string s = c.text;
    EXPECT_EQ(bits(ours(s)), c.bits) << s;
    EXPECT_EQ(bits(qtFloat(s)), c.bits) << s;
  }
}

TEST(NumberParse, NamedShortCases) {
  EXPECT_EQ(oursShort("+5"), 5);
  EXPECT_EQ(oursShort("010"), 10);
  EXPECT_EQ(oursShort("32768"), 0);
  EXPECT_EQ(oursShort("-32768"), -32768);
  EXPECT_EQ(oursShort("5.0"), 0);
  EXPECT_EQ(oursShort("40000"), 0);
  EXPECT_EQ(oursShort("00000000000000000000000005"), 5);
}

TEST(NumberParse, ScannersStopAtTheFieldEnd) {
  const char text[] = "12.5e3 7";
  float f = 0;
  EXPECT_EQ(scanFloatField(text, &f), text + 6);
  EXPECT_EQ(f, 12500.0f);
  short v = 0;
  EXPECT_EQ(scanShortField(text + 7, &v), text + 8);
  EXPECT_EQ(v, 7);
  // No match at all.
  EXPECT_EQ(scanFloatField("abc ", &f), nullptr);
  EXPECT_EQ(scanShortField("-x", &v), nullptr);
  // An "e" without digits ends the match before it.
  const char partial[] = "1e+ ";
  EXPECT_EQ(scanFloatField(partial, &f), partial + 1);
}

}  // namespace
