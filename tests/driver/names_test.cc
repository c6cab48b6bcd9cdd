// Names as a user gives them: taken literally where the user marks them so,
// used and printed byte for byte whatever their encoding, reported so
// that a script gets the very bytes back, and never two outputs in one
// file.
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

// The names hold the byte E9, Latin-1's "é", which is no UTF-8. Python
// reads the report as the campaign tools do, and must get the very bytes
// of every name back, the input's absolute path as its os.path.abspath
// gives it, and its size and modification time from os.stat.
TEST_F(NamesTest, NamesThatAreNotUtf8AreUsedAndReportedByteForByte) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
  const char kScript[] = R"sh(
set -e
name=$(printf 'lat\351in.txt'); out=$(printf 'out\351'); report=$(printf 'r\351.json')
printf '1.5 78.25 15.5 0.5 10 1\n' > "$name"
"$SCANFIT" --output-dir="$out" --report "$report" -- "./sub//../$name" 2> err
test "$(cat err)" = "$(printf 'lat\351in.txt open for reading.\n1 1 ')"
test "$(ls "$out" | wc -l)" = 5
/usr/bin/python3 - <<'EOF'
import json, os, time
report = json.load(open(b'r\xe9.json', 'rb'))
given = b'./sub//../lat\xe9in.txt'
names = report['input']
assert os.fsencode(names['name']) == given, names
assert os.fsencode(names['file']) == b'lat\xe9in.txt', names
assert os.fsencode(names['path']) == os.path.abspath(given), names
info = os.stat(given)
ns = info.st_mtime_ns
stamp = time.strftime('%Y-%m-%dT%H:%M:%S', time.gmtime(ns // 10**9)) + '.%09dZ' % (ns % 10**9)
assert (names['size'], names['modified']) == (info.st_size, stamp), names
outputs = [os.fsencode(o['name']) for o in report['outputs']]
assert outputs == [b'out\xe9/lat\xe9in' + s for s in
                   (b'_fit.ver', b'.fit', b'_fit.scn', b'_high.scn', b'_low.scn')], outputs
assert all(os.path.isfile(o) for o in outputs)
EOF
)sh";
  const ProcessResult run = runShell(
      QString("SCANFIT='%1'\n").arg(SCANFIT_BINARY) + kScript, dir.path());
  EXPECT_EQ(run.status, 0) << run.err.constData();
}

TEST_F(NamesTest, OutputsThatAreOneFileAreRefusedBeforeAnythingIsMade) {
  writeFile(path("x.txt"), twelvePoints());
  // A report linked to an output of a folder not there yet.
  ASSERT_TRUE(QFile::link("o/x.fit", path("rep.json")));
  const ProcessResult report =
      runScanfit({"--output-dir=o", "--report=rep.json", "x.txt"}, dir.path());
  EXPECT_EQ(report.status, 255);
  EXPECT_EQ(report.err, "Cannot write to: rep.json\n"
                        "The report is also an output of this run: o/x.fit\n");
  EXPECT_EQ(listDir(dir.path()), (QStringList{"rep.json", "x.txt"}));

  // A link left over in the output folder: one output over another.
  writeFile(path("x_low.scn"), "earlier\n");
  ASSERT_TRUE(QFile::link("x_low.scn", path("x_fit.scn")));
  const ProcessResult leftover = runScanfit({"x.txt"}, dir.path());
  EXPECT_EQ(leftover.status, 255);
  EXPECT_EQ(leftover.err, "Cannot write to: x_low.scn\n"
                          "Another output of this run is the same file: x_fit.scn\n");
  EXPECT_EQ(listDir(dir.path()),
            (QStringList{"rep.json", "x.txt", "x_fit.scn", "x_low.scn"}));
  EXPECT_EQ(readFile(path("x_low.scn")), "earlier\n");

  // /dev/null takes any number of outputs.
  QDir(dir.path()).remove("x_fit.scn");
  QDir(dir.path()).remove("x_low.scn");
  ASSERT_TRUE(QFile::link("/dev/null", path("x_high.scn")));
  ASSERT_TRUE(QFile::link("/dev/null", path("x_low.scn")));
  EXPECT_EQ(runScanfit({"x.txt"}, dir.path()).status, 0);
  EXPECT_EQ(QFileInfo(path("x_low.scn")).symLinkTarget(), "/dev/null");
}

}  // namespace
