// Text point rows and their split by residual, worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "output/point_outputs.h"
#include "plain_fit.h"

namespace {

const std::string kRowEnd = "         \n";

using Outputs = PointRows;

std::string text(const RowBlock& rows) { return textOf(rows); }

// A point whose col0 tells it apart; the other fields are fixed.
void addPoint(ScanData& data, float col0, float residual, float sigma = 0.0f) {
  data.col0.push_back(col0);
  data.latitude.push_back(1.0f);
  data.longitude.push_back(2.0f);
  data.elevation.push_back(3.0f);
  data.col4.push_back(4);
  data.sweepIndex.push_back(5);
  data.col6.push_back(6);
  data.residual.push_back(residual);
  data.pointSigma.push_back(sigma);
  data.distance.push_back(0.0f);
}

std::vector<std::string> rows(const RowBlock& out) {
  std::vector<std::string> result;
  const std::string all = text(out);
  size_t start = 0;
  for (size_t end; (end = all.find('\n', start)) != std::string::npos;
       start = end + 1)
    result.push_back(all.substr(start, end + 1 - start));
  EXPECT_EQ(start, all.size()) << "text after the last line feed";
  return result;
}

// The first field of every row: which points went there, in which order.
std::vector<std::string> col0Fields(const RowBlock& out) {
  std::vector<std::string> fields;
  for (const std::string& row : rows(out)) fields.push_back(row.substr(0, 9));
  return fields;
}

void writeText(const ScanData& data, Outputs& out) {
  writeTextPoints(data, out);
}

class WorkedPoint : public ::testing::Test {
 protected:
  void SetUp() override {
    data.col0 = {3.25f};
    data.latitude = {-33.75f};
    data.longitude = {151.5f};
    data.elevation = {42.5f};
    data.col4 = {17};
    data.sweepIndex = {125};
    data.col6 = {3};
    data.residual = {-1.25f};
    data.pointSigma = {0.75f};
    data.distance = {0.0f};
  }
  ScanData data;
  Outputs out;
};

TEST_F(WorkedPoint, SixColumnRow) {
  writeText(data, out);
  EXPECT_EQ(text(out.fit), " 3.250000" + std::string(" -33.750000") +
                                 "  151.500000" + "    42.500" + "  17" +
                                 " 125" + "    -1.250" + "     0.750" +
                                 kRowEnd);
  EXPECT_EQ(text(out.fit).size(), 80u);
  EXPECT_EQ(text(out.high), "");
  EXPECT_EQ(text(out.low), "");
}

TEST_F(WorkedPoint, SevenColumnRowAddsCol6AfterTheSweepIndex) {
  data.sevenColumns = true;
  writeText(data, out);
  EXPECT_EQ(text(out.fit), " 3.250000" + std::string(" -33.750000") +
                                 "  151.500000" + "    42.500" + "  17" +
                                 " 125" + "   3" + "    -1.250" + "     0.750" +
                                 kRowEnd);
  EXPECT_EQ(text(out.fit).size(), 84u);
}

TEST_F(WorkedPoint, WideValuesTouchTheirNeighbours) {
  data.col0 = {43200.5f};
  data.latitude = {-133.75f};
  data.col4 = {-5};
  data.sweepIndex = {-32768};
  writeText(data, out);
  EXPECT_EQ(text(out.fit), "43200.500000-133.750000  151.500000    42.500" +
                                 std::string("  -5-32768    -1.250     0.750") +
                                 kRowEnd);
}

// The fit set is closed at both ends; the next floats beyond go high and
// low, the infinities too, NaN nowhere.
TEST(TextPoints, ClassificationBoundaries) {
  ScanData data;
  addPoint(data, 1, 5.0f);
  addPoint(data, 2, std::nextafter(5.0f, INFINITY));
  addPoint(data, 3, -50.0f);
  addPoint(data, 4, std::nextafter(-50.0f, -INFINITY));
  addPoint(data, 5, INFINITY);
  addPoint(data, 6, -INFINITY);
  addPoint(data, 7, std::nanf(""));
  addPoint(data, 8, -std::nanf(""));
  Outputs out;
  writeText(data, out);
  EXPECT_EQ(col0Fields(out.fit),
            (std::vector<std::string>{" 1.000000", " 3.000000"}));
  EXPECT_EQ(col0Fields(out.high),
            (std::vector<std::string>{" 2.000000", " 5.000000"}));
  EXPECT_EQ(col0Fields(out.low),
            (std::vector<std::string>{" 4.000000", " 6.000000"}));
  // 5 + 2^-21 shows as 5.000; infinite residuals are written as such.
  EXPECT_EQ(rows(out.high)[0].substr(50, 10), "     5.000");
  EXPECT_EQ(rows(out.high)[1].substr(50, 10), "       inf");
  EXPECT_EQ(rows(out.low)[1].substr(50, 10), "      -inf");
}

TEST(TextPoints, UnfittedPointsEndInZeroResidualAndSigma) {
  ScanData data;
  addPoint(data, 1, 0.0f, 0.0f);
  Outputs out;
  writeText(data, out);
  EXPECT_EQ(text(out.fit), " 1.000000   1.000000    2.000000     3.000" +
                                 std::string("   4   5") + "     0.000" +
                                 "     0.000" + kRowEnd);
}

TEST(TextPoints, InputOrderKeptWithinEachClass) {
  ScanData data;
  const float residuals[] = {6, 0, -51, 7, -60, 1, 100, -1000, -2};
  for (int i = 0; i < 9; ++i) addPoint(data, float(i), residuals[i], 0.5f);
  Outputs out;
  writeText(data, out);
  EXPECT_EQ(col0Fields(out.fit),
            (std::vector<std::string>{" 1.000000", " 5.000000", " 8.000000"}));
  EXPECT_EQ(col0Fields(out.high),
            (std::vector<std::string>{" 0.000000", " 3.000000", " 6.000000"}));
  EXPECT_EQ(col0Fields(out.low),
            (std::vector<std::string>{" 2.000000", " 4.000000", " 7.000000"}));
}

TEST(TextPoints, NoPointsOrNoneOfAClassLeaveEmptyOutputs) {
  ScanData data;
  Outputs out;
  writeText(data, out);
  EXPECT_EQ(text(out.fit) + text(out.high) + text(out.low), "");
  addPoint(data, 1, std::nanf(""));
  addPoint(data, 2, 10.0f);
  writeText(data, out);
  EXPECT_EQ(text(out.fit), "");
  EXPECT_EQ(rows(out.high).size(), 1u);
  EXPECT_EQ(text(out.low), "");
}

}  // namespace
