#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "analysis/reference_fit.h"
#include "analysis/scan_lines.h"
#include "plain_fit.h"

namespace {

// Equator line elevations: `count` points at `base`, with the listed
// positions changed.
std::vector<float> elevations(int count, float base,
                              std::vector<std::pair<int, float>> changes) {
  std::vector<float> z(count, base);
  for (const auto& [k, value] : changes) z[k] = value;
  return z;
}

std::vector<float> alternating(int count, float even, float odd) {
  std::vector<float> z(count);
  for (int k = 0; k < count; ++k) z[k] = k % 2 ? odd : even;
  return z;
}

TEST(ScanFitDistance, FromTheFirstPointWithEachPointsOwnLatitude) {
  ScanData data;
  appendPoint(data, {1.0f, 45.0f, 7.0f, 0.0f, 1});
  appendPoint(data, {1.0f, 45.001f, 7.001f, 0.0f, 2});
  // 15 degrees north and 1 east: the east part shrinks with cos 60 = 0.5,
  // not with the first point's cos 45 (which would give 1668651 m).
  appendPoint(data, {1.0f, 60.0f, 8.0f, 0.0f, 3});
  for (short k = 3; k < 11; ++k)
    appendPoint(data, {1.0f, 45.0f + k, 7.0f, static_cast<float>(k),
                       static_cast<short>(k + 1)});
  closeAndFit(data);

  ASSERT_EQ(data.lineSlope.size(), 1u);
  EXPECT_EQ(bitsOf(data.distance[0]), bitsOf(0.0f));
  // dN = -111.0590 (45.001 is 45.00099945 in single precision) and
  // dE = -78.5666, worked by hand.
  EXPECT_NEAR(data.distance[1], 136.0397, 0.00005);
  EXPECT_NEAR(data.distance[2], 1667725.74, 0.2);
}

TEST(ScanFitLines, OnlyLinesOfMoreThanTenPointsBeforeTheLast) {
  ScanData data;
  appendEquatorLine(data, alternating(10, 11.0f, 9.0f));  // 0..9: too short
  appendEquatorLine(data, alternating(11, 11.0f, 9.0f));  // 10..20: fitted
  appendEquatorLine(data, alternating(25, 11.0f, 9.0f));  // last: never
  data.segmentScanLines();
  fitScanLines(data);

  ASSERT_EQ(data.lineCol0.size(), 1u);
  EXPECT_EQ(data.lineSlope.size(), 1u);
  EXPECT_EQ(data.lineIntercept.size(), 1u);
  EXPECT_EQ(data.lineSigma.size(), 1u);
  EXPECT_EQ(data.lineCol0[0], (10 + 20) / 2 / 1024.0f);
  for (int i = 0; i < 46; ++i) {
    if (i >= 10 && i <= 20) {
      EXPECT_EQ(data.distance[i], (i - 10) * kEquatorStep) << i;
      EXPECT_NE(data.residual[i], 0.0f) << i;
      EXPECT_EQ(data.pointSigma[i], data.lineSigma[0]) << i;
    } else {
      EXPECT_EQ(data.distance[i], 0.0f) << i;
      EXPECT_EQ(data.residual[i], 0.0f) << i;
      EXPECT_EQ(data.pointSigma[i], 0.0f) << i;
    }
  }
  EXPECT_GT(data.lineSigma[0], 0.0f);

  ScanData skipped;  // 20, 5, 20 points and a last line
  appendFlatEquatorLine(skipped, 20);
  appendFlatEquatorLine(skipped, 5);
  appendFlatEquatorLine(skipped, 20);
  closeAndFit(skipped);
  ASSERT_EQ(skipped.lineCol0.size(), 2u);
  EXPECT_EQ(skipped.lineCol0[0], 19 / 2.0f / 1024.0f);
  EXPECT_EQ(skipped.lineCol0[1], (25 + 44) / 2.0f / 1024.0f);

  ScanData oneLine;  // no line has an end: nothing to fit
  appendFlatEquatorLine(oneLine, 30);
  oneLine.segmentScanLines();
  fitScanLines(oneLine);
  EXPECT_TRUE(oneLine.lineSlope.empty());
  EXPECT_TRUE(oneLine.nadirCol0.empty());
  EXPECT_EQ(oneLine.residual, std::vector<float>(30, 0.0f));
}

// Line A (22 points, +-10 about 10) has 11 negative residuals near -10 and
// sets T close to -10; line C (22 points, +-0.5) sets it close to -0.5.
// Line D (20 points, +-10) has only 10 and sets nothing. Line B, 18 points
// at 10 with dips to 7 at positions 4 and 13, has two negative residuals
// (about -2.67; the rest about +0.33) and works with the T it inherits.
TEST(ScanFitThreshold, CarriedFromTheLatestLineThatSetIt) {
  const std::vector<float> lineA = alternating(22, 20.0f, 0.0f);
  const std::vector<float> lineC = alternating(22, 10.5f, 9.5f);
  const std::vector<float> lineD = alternating(20, 20.0f, 0.0f);
  const std::vector<float> lineB = elevations(18, 10.0f, {{4, 7.0f}, {13, 7.0f}});

  ScanData alone;  // T = 1: every point used, symmetric, so flat at 174/18
  appendEquatorLine(alone, lineB);
  closeAndFit(alone);
  EXPECT_EQ(alone.lineSlope[0], 0.0f);
  EXPECT_EQ(alone.lineIntercept[0], static_cast<float>(174.0L / 18));

  ScanData afterA;  // T near -10 rejects every point: m = 0
  appendEquatorLine(afterA, lineA);
  appendEquatorLine(afterA, lineB);
  closeAndFit(afterA);
  ASSERT_EQ(afterA.lineSigma.size(), 2u);
  EXPECT_TRUE(std::isnan(afterA.lineSlope[1]));
  EXPECT_TRUE(std::isnan(afterA.lineIntercept[1]));
  EXPECT_EQ(afterA.lineSigma[1], 0.0f);  // sqrt(0 / -2) = -0.0
  EXPECT_TRUE(std::signbit(afterA.lineSigma[1]));
  for (int i = 22; i < 40; ++i) {
    EXPECT_TRUE(std::isnan(afterA.residual[i])) << i;
    EXPECT_EQ(afterA.distance[i], (i - 22) * kEquatorStep) << i;
  }

  // T near -0.5, from C past D, keeps only the two dips: slope 0,
  // intercept 7, and an exact two-point fit leaves SS = 0: sigma 0/0.
  ScanData afterC;
  appendEquatorLine(afterC, lineA);
  appendEquatorLine(afterC, lineC);
  appendEquatorLine(afterC, lineD);
  appendEquatorLine(afterC, lineB);
  closeAndFit(afterC);
  ASSERT_EQ(afterC.lineSigma.size(), 4u);
  EXPECT_EQ(afterC.lineSlope[3], 0.0f);
  EXPECT_EQ(afterC.lineIntercept[3], 7.0f);
  EXPECT_TRUE(std::isnan(afterC.lineSigma[3]));
}

// 16 points at 10, two at 11 (residual exactly T = 1), two at 12 (above
// it) and two at 7, placed symmetrically so that both fits are flat and
// every sum is exact. Only the points at 12 go: Sz = 160 - 24 = 136 over
// m = 14 points.
TEST(ScanFitThreshold, ResidualEqualToTheThresholdIsUsed) {
  ScanData data;
  appendEquatorLine(data, elevations(16, 10.0f, {{2, 11.0f}, {13, 11.0f},
                                                 {4, 12.0f}, {11, 12.0f},
                                                 {6, 7.0f}, {9, 7.0f}}));
  closeAndFit(data);
  ASSERT_EQ(data.lineIntercept.size(), 1u);
  EXPECT_EQ(data.lineSlope[0], 0.0f);
  EXPECT_EQ(data.lineIntercept[0], static_cast<float>(136.0L / 14));
  // Residuals about 136/14: ten points at 10, two at 11, two at 7, so
  // SS = (10 * 2^2 + 2 * 9^2 + 2 * 19^2) / 7^2 = 924 / 49 with 12 degrees
  // of freedom.
  EXPECT_NEAR(data.lineSigma[0], std::sqrt(924.0 / 49 / 12), 1e-6);
  // The stored residual comes from the stored, rounded intercept; here
  // that differs in the last bit from 12 - 136/14 rounded.
  EXPECT_EQ(data.residual[4], 12.0f - data.lineIntercept[0]);
  EXPECT_NE(data.residual[4], static_cast<float>(12 - 136.0L / 14));
}

// Points at 100 on all but the listed positions lie far above the first
// fit (its intercept lies above 70) and are rejected; the others are used.
TEST(ScanFitSmallSamples, ThreeAndTwoUsedPoints) {
  ScanData three;  // used: 0, 1, 0 at 0, 5 and 10 steps: flat at 1/3
  appendEquatorLine(three, elevations(11, 100.0f, {{0, 0}, {5, 1}, {10, 0}}));
  closeAndFit(three);
  EXPECT_EQ(three.lineSlope[0], 0.0f);
  EXPECT_EQ(three.lineIntercept[0], 1.0f / 3.0f);
  // SS = 1/9 + 4/9 + 1/9 over m - 2 = 1.
  EXPECT_NEAR(three.lineSigma[0], std::sqrt(2.0 / 3.0), 1e-6);

  ScanData levelPair;  // used: 0 and 0, an exact fit: SS = 0, sigma 0/0
  appendEquatorLine(levelPair, elevations(11, 100.0f, {{0, 0}, {10, 0}}));
  closeAndFit(levelPair);
  EXPECT_EQ(levelPair.lineIntercept[0], 0.0f);
  EXPECT_TRUE(std::isnan(levelPair.lineSigma[0]));

  // Used: 0 and 1, 69450 m apart. Sdd2 = 2 * 34725^2 does not fit in
  // single precision, so the fitted line misses both points by a hair:
  // SS > 0 over zero degrees of freedom.
  ScanData risingPair;
  appendEquatorLine(risingPair, elevations(11, 100.0f, {{0, 0}, {10, 1}}));
  closeAndFit(risingPair);
  EXPECT_NEAR(risingPair.lineSlope[0], 1.0 / 69450, 1e-12);
  EXPECT_EQ(risingPair.lineSigma[0], std::numeric_limits<float>::infinity());
  EXPECT_EQ(risingPair.pointSigma[3], std::numeric_limits<float>::infinity());
}

TEST(ScanFitNaN, AllPointsAtOnePositionGiveNoSlope) {
  ScanData data;
  for (short k = 0; k < 12; ++k)
    appendPoint(data, {2.0f, 46.0f, 7.0f, 500.0f + k, static_cast<short>(k + 1)});
  closeAndFit(data);
  ASSERT_EQ(data.lineSlope.size(), 1u);
  EXPECT_TRUE(std::isnan(data.lineSlope[0]));
  EXPECT_TRUE(std::isnan(data.lineIntercept[0]));
  // No residual is comparable with T, so no point is used: SS = 0 over 10.
  EXPECT_EQ(bitsOf(data.lineSigma[0]), bitsOf(0.0f));
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(data.distance[i], 0.0f);
    EXPECT_TRUE(std::isnan(data.residual[i]));
  }
}

// A flight with lines across the track: tilted, undulating ground, noise
// that differs from line to line (so the threshold is sometimes renewed
// and sometimes carried), the odd tree or pit, and every ninth line too
// short to fit. The lines run east-west across the prime meridian (so the
// longitude differences change sign), north-south, or diagonally.
void appendFlight(ScanData& data) {
  std::mt19937 rng(20240517);
  auto uniform = [&](double low, double high) {
    return low + (high - low) * (rng() / 4294967296.0);
  };
  float time = 10.0f;
  for (int line = 0; line < 60; ++line) {
    const int count = line % 9 == 4 ? 4 + line % 7 : 11 + int(uniform(0, 240));
    const double noise = uniform(0.02, 6.0);
    const double north = std::vector<double>{0, 1, 0.6}[line % 3];
    const double east = std::vector<double>{1, 0, 0.8}[line % 3];
    const double centreLongitude = line % 3 == 0 ? 0.0 : 7.5;
    for (int k = 0; k < count; ++k) {
      const double along = (k - count / 2.0) * 1.8 + uniform(-0.3, 0.3);
      const double side = uniform(-0.3, 0.3);
      double z = 600 + 0.04 * along + 3 * std::sin(along / 25) +
                 uniform(-noise, noise);
      if (rng() % 40 == 0) z += uniform(5, 30);
      if (rng() % 90 == 0) z -= uniform(5, 30);
      time += 2e-6f;
      const double latitude =
          46.5 + line * 2e-5 + (north * along + east * side) / 111120;
      const double longitude =
          centreLongitude + (east * along - north * side) / (111120 * 0.688);
      appendPoint(data, {time, float(latitude), float(longitude), float(z),
                         static_cast<short>(1 + k)});
    }
  }
}

void expectSameBits(const std::vector<float>& actual,
                    const std::vector<float>& expected, const char* column) {
  ASSERT_EQ(actual.size(), expected.size()) << column;
  for (size_t i = 0; i < actual.size(); ++i) {
    if (bitsOf(actual[i]) != bitsOf(expected[i])) {
      ADD_FAILURE() << column << "[" << i << "] is " << actual[i]
                    << ", expected " << expected[i];
      return;
    }
  }
}

TEST(ScanFitReference, FlightMatchesThePlainFitBitForBit) {
  ScanData data;
  appendFlight(data);
  data.segmentScanLines();
  const ReferenceResults expected = referenceFit(data);
  fitScanLines(data);

  EXPECT_GT(expected.lineSlope.size(), 45u);
  expectSameBits(data.lineCol0, expected.lineCol0, "lineCol0");
  expectSameBits(data.lineSlope, expected.lineSlope, "lineSlope");
  expectSameBits(data.lineIntercept, expected.lineIntercept, "lineIntercept");
  expectSameBits(data.lineSigma, expected.lineSigma, "lineSigma");
  expectSameBits(data.distance, expected.distance, "distance");
  expectSameBits(data.residual, expected.residual, "residual");
  expectSameBits(data.pointSigma, expected.pointSigma, "pointSigma");
}

}  // namespace
