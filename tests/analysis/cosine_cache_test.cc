#include "analysis/cosine_cache.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace {

// The 80 value bits of an extended number (the rest is padding).
bool sameBits(long double a, long double b) { return std::memcmp(&a, &b, 10) == 0; }

float floatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

TEST(CosineCache, ReturnsExactlyWhatTheLibraryCosineGives) {
  CosineCache cache;
  std::mt19937 random(5);
  std::vector<float> angles = {0.0f, -0.0f, 1.3962634f,
                               std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(),
                               floatFromBits(0xffffffffu), floatFromBits(0x4000u)};
  // Angles of a flight near 80 degrees north, which share slots heavily,
  // and arbitrary bit patterns, which collide.
  for (int i = 0; i < 20000; ++i)
    angles.push_back(1.3962634f + float(random() % 4000) * 1.2e-7f);
  for (int i = 0; i < 20000; ++i) angles.push_back(floatFromBits(random()));
  for (int round = 0; round < 2; ++round) {
    for (float angle : angles) {
      ASSERT_TRUE(sameBits(cache.cos(angle), std::cos((long double)angle)))
          << angle;
    }
  }
}

}  // namespace
