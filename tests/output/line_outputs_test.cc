// Rows of the two per-line tables, written out by hand field by field.
#include "output/line_outputs.h"
#include "plain_fit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kRowEnd = "         \n";

void addNadir(ScanData& data, float col0, float latitude, float longitude,
              float elevation) {
  data.nadirCol0.push_back(col0);
  data.nadirLatitude.push_back(latitude);
  data.nadirLongitude.push_back(longitude);
  data.nadirElevation.push_back(elevation);
}

void addLine(ScanData& data, float col0, float slope, float intercept,
             float sigma) {
  data.lineCol0.push_back(col0);
  data.lineSlope.push_back(slope);
  data.lineIntercept.push_back(intercept);
  data.lineSigma.push_back(sigma);
}

std::string verText(const ScanData& data) {
  RowBlock out;
  writeVerFile(out, data);
  return textOf(out);
}

std::string fitText(const ScanData& data) {
  RowBlock out;
  writeFitFile(out, data);
  return textOf(out);
}

TEST(VerFile, RowOfFourNadirValues) {
  ScanData data;
  addNadir(data, 12.5f, -75.25f, 123.125f, 1234.5f);
  const std::string row = verText(data);
  EXPECT_EQ(row, "12.500000" + std::string(" -75.250000") + "  123.125000" +
                     "  1234.500" + kRowEnd);
  EXPECT_EQ(row.size(), 52u);
}

TEST(VerFile, RowsInRecordOrderAndNothingElse) {
  ScanData data;
  EXPECT_EQ(verText(data), "");
  addLine(data, 1.0f, 2.0f, 3.0f, 4.0f);  // per-line values are not nadirs
  EXPECT_EQ(verText(data), "");
  addNadir(data, 0.5f, 1.0f, -2.0f, 3.25f);
  addNadir(data, 0.75f, -1.0f, 2.0f, -3.25f);
  EXPECT_EQ(verText(data),
            " 0.500000   1.000000   -2.000000     3.250" + kRowEnd +
                " 0.750000  -1.000000    2.000000    -3.250" + kRowEnd);
}

TEST(FitFile, RowOfFourLineValues) {
  ScanData data;
  addLine(data, 12.5f, -0.25f, 1234.5f, 0.125f);
  const std::string row = fitText(data);
  EXPECT_EQ(row, "12.500000" + std::string("    -0.250") + "  1234.500" +
                     "     0.125" + kRowEnd);
  EXPECT_EQ(row.size(), 49u);
}

// 123456.789 is held as 123456.7890625; the overflowing intercept touches
// the slope, and the row still ends in nine blanks when the last value
// overflows too.
TEST(FitFile, WideValuesTouchTheFieldBefore) {
  ScanData data;
  addLine(data, 1.5f, -0.25f, 123456.789f, 1234567.5f);
  EXPECT_EQ(fitText(data),
            " 1.500000    -0.250123456.7891234567.500" + kRowEnd);
}

TEST(FitFile, RowsInLineOrderAndNothingElse) {
  ScanData data;
  EXPECT_EQ(fitText(data), "");
  addNadir(data, 1.0f, 2.0f, 3.0f, 4.0f);  // nadirs are not per-line rows
  EXPECT_EQ(fitText(data), "");
  addLine(data, 1.0f, 0.5f, -2.0f, 0.0f);
  addLine(data, 2.0f, -0.5f, 2.0f, 1.0f);
  EXPECT_EQ(fitText(data), " 1.000000     0.500    -2.000     0.000" + kRowEnd +
                               " 2.000000    -0.500     2.000     1.000" +
                               kRowEnd);
}

}  // namespace
