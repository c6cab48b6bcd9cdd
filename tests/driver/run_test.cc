// End-to-end behaviour of the scanfit program: its messages, exit statuses
// and the files it leaves, seen the way a user sees them.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include "driver/scanfit_process.h"

namespace {

// Twelve points, one scan line: nothing is fitted, every point lands in the
// fit file with residual and sigma 0. The text ends in a line feed, so its
// last text line is empty and is reported as "12 1 ".
QByteArray twelvePoints(int count = 12) {
  QByteArray text;
  for (int i = 0; i < count; ++i)
    text += "1.5 78.25 15.5 0.5 10 " + QByteArray::number(i + 1) + "\n";
  return text;
}

QByteArray twelvePointRows() {
  QByteArray rows;
  for (int i = 0; i < 12; ++i) {
    rows += " 1.500000  78.250000   15.500000     0.500  10";
    rows += QByteArray::number(i + 1).rightJustified(4, ' ');
    rows += "     0.000     0.000         \n";
  }
  return rows;
}

const QStringList kAsciiOutputs = {"run1.fit", "run1_fit.scn", "run1_fit.ver",
                                   "run1_high.scn", "run1_low.scn"};

struct RunTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(RunTest, NoArgumentsPrintsTheUsageLineAndCreatesNothing) {
  const ProcessResult result = runScanfit({}, dir.path());
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.err, "Usage: scanfit [-a] [-b] [ASCII scanner file]\n");
  EXPECT_TRUE(result.out.isEmpty());
  EXPECT_TRUE(listDir(dir.path()).isEmpty());
}

TEST_F(RunTest, AnInputThatCannotBeOpenedEndsTheRunBeforeAnyOutput) {
  QDir(dir.path()).mkdir("adir");
  const struct {
    QStringList args;
    QByteArray err;
  } cases[] = {
      {{"missing.txt"},
       "Cannot read from: missing.txt\nNo such file or directory\n"},
      {{"-b", "missing.bin"},
       "Cannot read from: missing.bin\nNo such file or directory\n"},
      {{"-b"}, "Cannot read from: \nNo file name specified\n"},
      {{"-a", "-x"}, "Cannot read from: \nNo file name specified\n"},
      {{"adir"}, "Cannot read from: adir\nfile to open is a directory\n"},
  };
  for (const auto& c : cases) {
    const ProcessResult result = runScanfit(c.args, dir.path());
    EXPECT_EQ(result.status, 255) << c.args.join(' ').toStdString();
    EXPECT_EQ(result.err, c.err) << c.args.join(' ').toStdString();
    EXPECT_EQ(listDir(dir.path()), QStringList{"adir"});
  }
}

TEST_F(RunTest, AsciiRunReportsItsInputAndWritesFiveFilesHere) {
  QDir(dir.path()).mkpath("data/out");
  writeFile(path("data/run1.part.txt"), twelvePoints());
  const ProcessResult result = runScanfit({"data/run1.part.txt"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "run1.part.txt open for reading.\n12 1 \n");
  EXPECT_TRUE(result.out.isEmpty());
  EXPECT_EQ(listDir(dir.path()), QStringList{"data"} + kAsciiOutputs);
  EXPECT_EQ(readFile(path("run1_fit.scn")), twelvePointRows());
  for (const char* empty : {"run1.fit", "run1_fit.ver", "run1_high.scn",
                            "run1_low.scn"})
    EXPECT_EQ(readFile(path(empty)), QByteArray()) << empty;
}

TEST_F(RunTest, OptionAChangesNothingAndOptionsMayFollowThePath) {
  writeFile(path("run1.txt"), "header line\n" + twelvePoints());
  const ProcessResult plain = runScanfit({"run1.txt"}, dir.path());
  const QByteArray plainRows = readFile(path("run1_fit.scn"));
  const ProcessResult withA = runScanfit({"run1.txt", "-a"}, dir.path());
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(withA.status, 0);
  EXPECT_EQ(plain.err, withA.err);
  EXPECT_EQ(plain.err, "run1.txt open for reading.\n0 2 header line\n13 1 \n");
  EXPECT_EQ(readFile(path("run1_fit.scn")), plainRows);
  EXPECT_EQ(plainRows, twelvePointRows());
}

TEST_F(RunTest, TheLastPathWinsAndTheFirstIsNeverTouched) {
  writeFile(path("second.txt"), twelvePoints());
  const ProcessResult result =
      runScanfit({"first.txt", "second.txt"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "second.txt open for reading.\n12 1 \n");
  EXPECT_FALSE(QFile::exists(path("first.txt")));
}

TEST_F(RunTest, WildcardsAreExpandedLikeAShellWould) {
  writeFile(path("a.txt"), twelvePoints());
  writeFile(path("b.txt"), twelvePoints());
  const ProcessResult result = runScanfit({"?.txt"}, dir.path());
  EXPECT_EQ(result.err, "b.txt open for reading.\n12 1 \n");
  EXPECT_TRUE(QFile::exists(path("b_fit.scn")));
  EXPECT_FALSE(QFile::exists(path("a_fit.scn")));
}

TEST_F(RunTest, AbsoluteAndNonAsciiPathsOpen) {
  const QString name = QString::fromUtf8("donn\xc3\xa9" "es vol.1.txt");
  writeFile(path(name), twelvePoints());
  const ProcessResult result =
      runScanfit({QDir(dir.path()).absoluteFilePath(name)}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "donn\xc3\xa9" "es vol.1.txt open for reading.\n12 1 \n");
  EXPECT_TRUE(QFile::exists(path(QString::fromUtf8("donn\xc3\xa9" "es vol.fit"))));
}

TEST_F(RunTest, AnEmptyBaseNameGivesOutputsThatStartWithTheSuffix) {
  writeFile(path(".scan"), twelvePoints());
  const ProcessResult result = runScanfit({".scan"}, dir.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(listDir(dir.path()),
            (QStringList{".fit", ".scan", "_fit.scn", "_fit.ver", "_high.scn",
                         "_low.scn"}));
}

TEST_F(RunTest, AnyOutputNameThatFitsTheFileSystemIsWritten) {
  // 245 characters: "_high.scn" makes 254, one short of the longest name.
  const QString base(245, 'n');
  writeFile(path(base + ".txt"), twelvePoints());
  EXPECT_EQ(runScanfit({base + ".txt"}, dir.path()).status, 0);
  EXPECT_EQ(readFile(path(base + "_fit.scn")), twelvePointRows());
  EXPECT_EQ(listDir(dir.path()).size(), 6);
}

TEST_F(RunTest, OutputsOfAnEarlierRunAreReplaced) {
  writeFile(path("run1.txt"), twelvePoints());
  for (const QString& name : kAsciiOutputs)
    writeFile(path(name), QByteArray(100000, 'x'));
  EXPECT_EQ(runScanfit({"run1.txt"}, dir.path()).status, 0);
  EXPECT_EQ(readFile(path("run1_fit.scn")), twelvePointRows());
  EXPECT_EQ(readFile(path("run1.fit")), QByteArray());
}

TEST_F(RunTest, AnInputThatIsOneOfItsOwnOutputsIsRefusedAndKept) {
  const QByteArray points = twelvePoints();
  writeFile(path("run1.fit"), points);
  writeFile(path("flight.txt"), points);
  ASSERT_EQ(link(QFile::encodeName(path("flight.txt")).constData(),
                 QFile::encodeName(path("flight_low.scn")).constData()), 0);
  writeFile(path("other.txt"), points);
  ASSERT_TRUE(QFile::link("other.txt", path("other_fit.ver")));

  const struct {
    const char* input;
    QByteArray err;
  } cases[] = {
      {"run1.fit", "Cannot read from: run1.fit\n"
                   "The input is also an output of this run: run1.fit\n"},
      {"flight.txt", "Cannot read from: flight.txt\n"
                     "The input is also an output of this run: flight_low.scn\n"},
      {"other.txt", "Cannot read from: other.txt\n"
                    "The input is also an output of this run: other_fit.ver\n"},
  };
  const QStringList before = listDir(dir.path());
  for (const auto& c : cases) {
    const ProcessResult result = runScanfit({c.input}, dir.path());
    EXPECT_EQ(result.status, 255) << c.input;
    EXPECT_EQ(result.err, c.err) << c.input;
    EXPECT_EQ(readFile(path(c.input)), points) << c.input;
  }
  EXPECT_EQ(listDir(dir.path()), before);
}

TEST_F(RunTest, AnOutputThatCannotBeWrittenFailsAndLeavesEarlierOutputs) {
  writeFile(path("run1.txt"), twelvePoints());
  writeFile(path("run1_fit.ver"), "earlier\n");
  QDir(dir.path()).mkdir("run1_high.scn");
  // All outputs are open before the first point is read: the run stops
  // before it reads anything.
  const ProcessResult result = runScanfit({"run1.txt"}, dir.path());
  EXPECT_EQ(result.status, 255);
  EXPECT_EQ(result.err,
            "run1.txt open for reading.\n"
            "Cannot write to: run1_high.scn\nFilename refers to a directory\n");
  EXPECT_EQ(readFile(path("run1_fit.ver")), "earlier\n");
  EXPECT_EQ(listDir(dir.path()),
            (QStringList{"run1.txt", "run1_fit.ver", "run1_high.scn"}));
}

TEST_F(RunTest, ARunOutOfDiskSpaceFailsWithoutPartialOutput) {
  // Scan lines of ten points are never fitted: the per-line files stay
  // empty and all 40000 rows go to the fit file.
  QByteArray many;
  for (int i = 0; i < 4000; ++i) many += twelvePoints(10);
  writeFile(path("big.txt"), many);
  writeFile(path("big_fit.scn"), "earlier\n");
  // A file size limit of 100 KiB stands in for a full disk: writes past it
  // fail with EFBIG, whether SIGXFSZ is ignored or not. The run stops at
  // the failure, long before the last text line is reached.
  for (const char* signal : {"trap '' XFSZ; ", ""}) {
    const ProcessResult result =
        runShell(QString("%1ulimit -f 100; exec '%2' big.txt")
                     .arg(signal, SCANFIT_BINARY),
                 dir.path());
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err,
              "big.txt open for reading.\n"
              "Cannot write to: big_fit.scn\nFile too large\n");
    EXPECT_EQ(readFile(path("big_fit.scn")), "earlier\n");
    EXPECT_EQ(listDir(dir.path()), (QStringList{"big.txt", "big_fit.scn"}));
  }
}

// A real full disk: a tmpfs of 256 KiB, mounted where only the run sees it.
// Every output fails once it is full; the message names the one whose
// write failed first, the large point file, not a small one flushed later.
TEST_F(RunTest, AFullDiskNamesTheOutputThatFilledIt) {
  QDir(dir.path()).mkdir("out");
  const QString mounted = "unshare -rm sh -c 'mount -t tmpfs -o size=256k none out && %1'";
  if (runShell(mounted.arg("true"), dir.path()).status != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here";
  ASSERT_EQ(runProgram(GENFLIGHT_BINARY,
                       {"--points", "20000", "--seed", "2", "--output", "flight.txt"},
                       dir.path()).status, 0);
  const ProcessResult result = runShell(
      mounted.arg(QString("%1 --output-dir=out flight.txt; s=$?; ls -A out; exit $s")
                      .arg(SCANFIT_BINARY)),
      dir.path());
  EXPECT_EQ(result.status, 255);
  EXPECT_TRUE(result.err.endsWith(
      "Cannot write to: out/flight_fit.scn\nNo space left on device\n"))
      << result.err.constData();
  EXPECT_EQ(result.out, "");
}

}  // namespace
