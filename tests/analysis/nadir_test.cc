#include "analysis/nadir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/scan_lines.h"

namespace {

// Decoy points at sweep 125 sit on both sides of the line and must never
// be looked at. The line's points carry the given distances and sigma.
void extractFrom(ScanData& data, const std::vector<TestPoint>& line,
                 const std::vector<float>& distances, float sigma, float slope,
                 float intercept) {
  auto decoy = [&] {
    appendPoint(data, {-1.0f, -1.0f, -1.0f, -1.0f, 125});
    data.distance.push_back(0.0f);
    data.pointSigma.push_back(0.0f);
  };
  for (int j = 0; j < 3; ++j) decoy();
  for (size_t j = 0; j < line.size(); ++j) {
    appendPoint(data, line[j]);
    data.distance.push_back(distances[j]);
    data.pointSigma.push_back(sigma);
  }
  decoy();
  NadirRecord record;
  if (findNadirRecord(data, 3, 3 + static_cast<int>(line.size()) - 1, slope,
                      intercept, record))
    appendNadirRecord(data, record);
}

// Point j of the line has col0 12 + 0.375j, latitude 30 + 0.75j, longitude
// 9 + 1.5j, measured elevation 7 + j and distance 60j; the line's fit is
// 0.5 * distance + 100. These steps divide by 2 and 3 exactly, so every
// interpolated value is exact.
void extractFromLine(ScanData& data, const std::vector<short>& sweeps,
                     float sigma = 1.0f) {
  std::vector<TestPoint> line;
  std::vector<float> distances;
  for (size_t j = 0; j < sweeps.size(); ++j) {
    line.push_back({12.0f + 0.375f * j, 30.0f + 0.75f * j, 9.0f + 1.5f * j,
                    7.0f + j, sweeps[j]});
    distances.push_back(60.0f * j);
  }
  extractFrom(data, line, distances, sigma, 0.5f, 100.0f);
}

void expectOneRecord(const ScanData& data, float col0, float latitude,
                     float longitude, float elevation) {
  ASSERT_EQ(data.nadirCol0.size(), 1u);
  ASSERT_EQ(data.nadirLatitude.size(), 1u);
  ASSERT_EQ(data.nadirLongitude.size(), 1u);
  ASSERT_EQ(data.nadirElevation.size(), 1u);
  EXPECT_EQ(data.nadirCol0[0], col0);
  EXPECT_EQ(data.nadirLatitude[0], latitude);
  EXPECT_EQ(data.nadirLongitude[0], longitude);
  EXPECT_EQ(data.nadirElevation[0], elevation);
}

TEST(Nadir, ThePointAtSweep125AsMeasured) {
  ScanData data;
  extractFromLine(data, {120, 121, 122, 123, 124, 125, 126, 127, 128, 129});
  expectOneRecord(data, 13.875f, 33.75f, 16.5f, 12.0f);  // point 5
}

TEST(Nadir, InterpolatedOnTheFitBetweenTheNearestNeighbours) {
  // 124 and 126 are points 4 and 5: halfway, at distance 270, where the
  // fit gives 0.5 * 270 + 100 (the measured ones are 11 and 12).
  ScanData halfway;
  extractFromLine(halfway, {120, 121, 122, 123, 124, 126, 127, 128});
  expectOneRecord(halfway, 13.6875f, 33.375f, 15.75f, 235.0f);

  // 124 and 127: two thirds of point 4 and one third of point 5, at
  // distance 240 + 60/3.
  ScanData third;
  extractFromLine(third, {118, 120, 122, 123, 124, 127, 128, 130});
  expectOneRecord(third, 13.625f, 33.25f, 15.5f, 230.0f);

  // The neighbours, not the ends of the line: 100 and 200 are ignored.
  ScanData nearest;
  extractFromLine(nearest, {100, 124, 126, 200});
  expectOneRecord(nearest, 12.5625f, 31.125f, 11.25f, 145.0f);
}

// With values that do not divide evenly the precision shows (these would
// come out differently in single-precision arithmetic): each value is
// divided by D = 3 before it is weighted, all in extended precision, and
// rounded once; the elevation rounds the product dI * slope before the
// intercept is added.
TEST(Nadir, InterpolationRoundsOnceFromExtendedPrecision) {
  const TestPoint lower = {10.1241655f, 46.5005188f, 7.50018787f, 0, 124};
  const TestPoint upper = {10.1245193f, 46.5010071f, 7.50099611f, 0, 127};
  const float lowerDistance = 79.0657196f, upperDistance = 436.030121f;
  const float slope = 1.37811744f, intercept = 22.9577217f;
  ScanData data;
  extractFrom(data, {lower, upper}, {lowerDistance, upperDistance}, 0.5f,
              slope, intercept);

  using X = long double;
  auto twoThirdsOneThird = [](float l, float u) {
    return static_cast<float>(2 * (X(l) / 3) + X(u) / 3);
  };
  const float distance = static_cast<float>(
      lowerDistance + (X(upperDistance) - lowerDistance) / 3);
  const float rise = static_cast<float>(X(distance) * slope);
  expectOneRecord(data, twoThirdsOneThird(lower.col0, upper.col0),
                  twoThirdsOneThird(lower.latitude, upper.latitude),
                  twoThirdsOneThird(lower.longitude, upper.longitude),
                  static_cast<float>(X(rise) + intercept));
}

TEST(Nadir, NoRecordWithoutACandidateOnEachSide) {
  const std::vector<std::vector<short>> lines = {
      {110, 115, 120, 124},       // all below
      {126, 127, 130, 140},       // all above
      {120, 122, 124, 255},       // 255 means "none above"
      {123, 124, 300},            // and so does anything past it
      {-2, -1, 0, 126, 127},      // 0 and below never bound from beneath
      {-5, 130},
  };
  for (const std::vector<short>& sweeps : lines) {
    ScanData data;
    extractFromLine(data, sweeps);
    EXPECT_TRUE(data.nadirCol0.empty()) << "first sweep " << sweeps[0];
    EXPECT_TRUE(data.nadirElevation.empty());
  }
}

TEST(Nadir, OnlyLinesWithSigmaBelowThree) {
  const std::vector<short> sweeps = {123, 124, 125, 126};
  const float belowThree = std::nextafter(3.0f, 0.0f);
  const float noPointsUsed = -0.0f;
  for (float sigma : {belowThree, noPointsUsed}) {
    ScanData data;
    extractFromLine(data, sweeps, sigma);
    EXPECT_EQ(data.nadirCol0.size(), 1u) << sigma;
  }
  for (float sigma : {3.0f, std::numeric_limits<float>::infinity(),
                      std::numeric_limits<float>::quiet_NaN()}) {
    ScanData data;
    extractFromLine(data, sweeps, sigma);
    EXPECT_TRUE(data.nadirCol0.empty()) << sigma;
  }
}

// Ten fitted lines of 30 points, sweep 110 to 139; lines 2, 5 and 9 are
// rough (scatter of +-100, sigma far above 3), the others smooth (+-0.5).
TEST(NadirThroughTheFit, OneRecordPerSmoothLine) {
  ScanData data;
  const std::vector<int> rough = {2, 5, 9};
  for (int line = 0; line < 10; ++line) {
    const bool isRough = std::count(rough.begin(), rough.end(), line) > 0;
    std::vector<float> z(30);
    for (int k = 0; k < 30; ++k)
      z[k] = 500.0f + (isRough ? 100.0f : 0.5f) * std::sin(2.3f * (k + 30 * line));
    appendEquatorLine(data, z, 110);
  }
  closeAndFit(data);

  ASSERT_EQ(data.lineSigma.size(), 10u);
  std::vector<float> expectedCol0;
  for (int line = 0; line < 10; ++line) {
    const bool isRough = std::count(rough.begin(), rough.end(), line) > 0;
    ASSERT_EQ(isRough, !(data.lineSigma[line] < 3.0f)) << line;
    // Sweep 125 is point 15 of the line; its col0 counts points from 0.
    if (!isRough) expectedCol0.push_back((30 * line + 15) / 1024.0f);
  }
  EXPECT_EQ(data.nadirCol0, expectedCol0);
  EXPECT_EQ(data.nadirElevation.size(), 7u);
}

// A fit without a slope (all points at one position) leaves the measured
// record alone but carries NaN into an interpolated elevation.
TEST(NadirThroughTheFit, NaNFitOnlyReachesInterpolatedElevation) {
  ScanData data;
  for (short sweep = 120; sweep < 132; ++sweep)
    appendPoint(data, {1.0f, 46.0f, 7.0f, 400.0f + sweep, sweep});
  for (short sweep = 120; sweep < 132; ++sweep)
    if (sweep != 125) appendPoint(data, {2.0f, 46.0f, 7.0f, 600.0f, sweep});
  closeAndFit(data);

  ASSERT_TRUE(std::isnan(data.lineSlope[0]));
  ASSERT_EQ(data.nadirElevation.size(), 2u);
  EXPECT_EQ(data.nadirElevation[0], 525.0f);
  EXPECT_EQ(data.nadirCol0[1], 2.0f);
  EXPECT_EQ(data.nadirLatitude[1], 46.0f);
  EXPECT_TRUE(std::isnan(data.nadirElevation[1]));
}

}  // namespace
