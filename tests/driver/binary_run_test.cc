// End-to-end runs on binary point files (option b).
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "driver/scanfit_process.h"

namespace {

QByteArray fromHex(const char* hex) { return QByteArray::fromHex(hex); }

// Record of the file format's worked example: col0E7 453210000, latitudeE7
// 785000000, longitudeE7 -1234567890, elevationE3 -2500, bytes FF and 7D.
const char* kWorkedRecord = "906f031b4026ca2e2efd69b63cf6ffffff7d";

struct BinaryRunTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(BinaryRunTest, AOneLineFileGoesWholeToTheFitFile) {
  // One scan line, so nothing is fitted and every residual is 0. Values
  // pass through single precision and are truncated on the way out:
  //   45.32099914550781 x 10^7 = 453209991.455...  -> 453209991 = 1b036f87
  //   -123.456787109375 x 10^7 = -1234567871.09... -> -1234567871 = b669fd41
  writeFile(path("run1.bin"), fromHex(kWorkedRecord));
  const ProcessResult result = runScanfit({"run1.bin", "/B"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "Binary file: run1.bin open for reading.\n");
  EXPECT_EQ(readFile(path("run1_fit.sbi")).toHex(),
            "876f031b4026ca2e41fd69b63cf6ffffff7d");
  EXPECT_EQ(readFile(path("run1_high.sbi")), QByteArray());
  EXPECT_EQ(readFile(path("run1_low.sbi")), QByteArray());
  EXPECT_EQ(listDir(dir.path()),
            (QStringList{"run1.bin", "run1.fit", "run1_fit.sbi", "run1_fit.ver",
                         "run1_high.sbi", "run1_low.sbi"}));
}

TEST_F(BinaryRunTest, OnlyWholeRecordsAreRead) {
  // A run of records with sweep bytes 1, 2, 3, ... forms a single line.
  QByteArray records;
  for (int i = 0; i < 3; ++i)
    records += fromHex("0000000000000000000000000000000000") + char(i + 1);
  const struct {
    int size;
    int written;
  } cases[] = {{0, 0}, {17, 0}, {18, 18}, {41, 36}, {54, 54}};
  for (const auto& c : cases) {
    writeFile(path("part.bin"), records.left(c.size));
    EXPECT_EQ(runScanfit({"-b", "part.bin"}, dir.path()).status, 0);
    EXPECT_EQ(readFile(path("part_fit.sbi")), records.left(c.written)) << c.size;
  }
}

TEST_F(BinaryRunTest, ValuesBeyondTheInt32RangeSaturateOnTheWayOut) {
  // 2147483647 / 10^7 rounds up to 214.74836730957031 in single precision,
  // whose product with 10^7 exceeds the int32 range: it is written back as
  // the largest int32, not wrapped to the smallest.
  writeFile(path("edge.bin"), fromHex("ffffff7f00000080000000000000000000ff"));
  EXPECT_EQ(runScanfit({"-binary", "edge.bin"}, dir.path()).status, 0);
  EXPECT_EQ(readFile(path("edge_fit.sbi")).toHex(),
            "ffffff7f00000080000000000000000000ff");
}

}  // namespace
