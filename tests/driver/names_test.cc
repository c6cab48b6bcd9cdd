// Names as a user gives them: taken literally where the user marks them so.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "driver/scanfit_process.h"

namespace {

// Twelve points of one scan line: nothing is fitted, and the text ends in
// a line feed, so the run reports its last text line as "12 1 ".
QByteArray twelvePoints() {
  QByteArray text;
  for (int i = 1; i <= 12; ++i)
    text += "1.5 78.25 15.5 0.5 10 " + QByteArray::number(i) + "\n";
  return text;
}

const QStringList kSuffixes = {"_fit.ver", ".fit", "_fit.scn", "_high.scn",
                               "_low.scn"};

struct NamesTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(NamesTest, AfterDashDashAndInLongOptionsNothingIsExpanded) {
  writeFile(path("f1.txt"), twelvePoints());
  writeFile(path("f[1].txt"), twelvePoints());
  writeFile(path("r1.json"), "unrelated\n");
  ASSERT_TRUE(QDir(dir.path()).mkdir("out1"));

  const ProcessResult missing = runScanfit({"--", "f[12].txt"}, dir.path());
  EXPECT_EQ(missing.status, 255);
  EXPECT_EQ(missing.err, "Cannot read from: f[12].txt\nNo such file or directory\n");

  // Both ways of giving a value; the input after "--" is the file of that
  // very name, not f1.txt.
  for (const QStringList& args :
       {QStringList{"--output-dir", "out[1]", "--report=r[1].json", "--", "f[1].txt"},
        QStringList{"--output-dir=out[1]", "--report", "r[1].json", "--", "f[1].txt"}}) {
    const ProcessResult run = runScanfit(args, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "f[1].txt open for reading.\n12 1 \n");
    for (const QString& suffix : kSuffixes)
      EXPECT_TRUE(QFileInfo::exists(path("out[1]/f[1]" + suffix))) << suffix.toStdString();
    EXPECT_TRUE(QFileInfo::exists(path("r[1].json")));
  }
  EXPECT_EQ(listDir(path("out1")), QStringList());
  EXPECT_EQ(readFile(path("r1.json")), "unrelated\n");
}

}  // namespace
