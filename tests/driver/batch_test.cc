// scanfit-batch, run as a user runs it: a campaign of generated flights,
// one of them missing, on this machine, resumed with another list, and
// through this machine and a stand-in host that an ssh replacement maps to
// a folder of its own.
#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "driver/scanfit_process.h"
#include "scan/point_record.h"

namespace {

// "ssh HOST COMMAND": COMMAND in the host's folder, with the SHELL and HOME
// a login sets (GNU parallel runs its remote jobs in the remote SHELL).
const char kStandInSsh[] = R"(#!/bin/bash
while [[ "$1" == -* ]]; do
  case "$1" in -o|-p|-l|-i|-F) shift 2 ;; *) shift ;; esac
done
host="$1"; shift
[[ "$1" == "--" ]] && shift
cd "$HOSTS/$host" || exit 255
export SHELL=/bin/bash HOME="$HOSTS/$host"
exec bash -c "$*"
)";

QList<QByteArray> rowsOf(const QByteArray& text) {
  QList<QByteArray> rows = text.split('\n');
  rows.removeLast();
  return rows;
}

struct BatchTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }

  void generate(const QString& format, const QString& name, int seed,
                int points = 20000) {
    const ProcessResult made = runProgram(
        GENFLIGHT_BINARY,
        {"--points", QString::number(points), "--seed", QString::number(seed),
         "--format", format, "--output", name},
        dir.path());
    ASSERT_EQ(made.status, 0);
  }

  ProcessResult batch(const QStringList& args, const QStringList& env = {}) {
    QString line = QString("SCANFIT='%1' %2 '%3'")
                       .arg(SCANFIT_BINARY, env.join(' '),
                            SCANFIT_SOURCE_DIR "/tools/scanfit-batch");
    for (QString arg : args) line += " '" + arg.replace("'", "'\\''") + "'";
    return runShell(line, dir.path());
  }

  // The five outputs of a plain scanfit run of `input`, by name.
  QMap<QString, QByteArray> plainRun(const QString& input, bool binary) {
    const QString folder = path("plain/" + QFileInfo(input).baseName());
    QDir().mkpath(folder);
    const QStringList args = binary ? QStringList{"-b", path(input)}
                                    : QStringList{path(input)};
    EXPECT_EQ(runScanfit(args, folder).status, 0);
    QMap<QString, QByteArray> files;
    for (const QString& name : listDir(folder)) files[name] = readFile(folder + "/" + name);
    return files;
  }

  // What a campaign left for one input, but for its report and log.
  QMap<QString, QByteArray> campaignRun(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QString& name : listDir(folder)) {
      if (name != "report.json" && name != "scanfit.log")
        files[name] = readFile(folder + "/" + name);
    }
    return files;
  }
};

TEST_F(BatchTest, ACampaignGivesEveryFlightItsPlainRunAndResumesItsFailures) {
  QStringList inputs;
  for (int k = 1; k <= 13; ++k) {
    inputs += QString("flight%1.txt").arg(k);
    generate(k % 3 == 0 ? "seven" : "six", inputs.last(), k);
  }
  inputs.insert(6, "late.txt");  // not there yet
  const ProcessResult first = batch(QStringList{"--jobs", "2", "--output-dir", "camp"} + inputs);
  EXPECT_EQ(first.status, 1);
  EXPECT_TRUE(first.err.contains("scanfit-batch: failed: late.txt (status 255): "
                                 "Cannot read from: "));

  // Resumed with the list turned round and a flight added: the two without
  // a report run, once each, and nothing else.
  QFile::copy(path("flight1.txt"), path("late.txt"));
  generate("six", "added.txt", 14);
  std::reverse(inputs.begin(), inputs.end());
  inputs.insert(3, "added.txt");
  const qsizetype triesBefore = rowsOf(readFile(path("camp/joblog"))).size();
  const ProcessResult resumed =
      batch(QStringList{"--resume", "--output-dir=camp"} + inputs);
  EXPECT_EQ(resumed.status, 0) << resumed.err.constData();
  const QList<QByteArray> tries = rowsOf(readFile(path("camp/joblog"))).mid(triesBefore);
  ASSERT_EQ(tries.size(), 2);
  for (const char* ran : {"/late.txt", "/added.txt"}) {
    EXPECT_EQ(std::count_if(tries.begin(), tries.end(),
                            [&](const QByteArray& row) { return row.contains(ran); }),
              1) << ran;
  }

  const QList<QByteArray> summary = rowsOf(readFile(path("camp/summary.tsv")));
  ASSERT_EQ(summary.size(), inputs.size() + 1);
  EXPECT_EQ(summary[0], "input\tstatus\tpoints\tfitted_lines\thigh_share\t"
                        "low_share\tmedian_sigma\tseconds");
  for (qsizetype k = 0; k < inputs.size(); ++k) {
    const QString name = QFileInfo(inputs[k]).baseName();
    const QString folder = path("camp/" + name);
    EXPECT_TRUE(campaignRun(folder) == plainRun(inputs[k], false)) << name.toStdString();
    const QList<QByteArray> row = summary[k + 1].split('\t');
    ASSERT_EQ(row.size(), 8);
    EXPECT_EQ(row[0], inputs[k]);
    EXPECT_EQ(row[1], "0");
    const qsizetype fit = rowsOf(readFile(folder + "/" + name + "_fit.scn")).size();
    const qsizetype high = rowsOf(readFile(folder + "/" + name + "_high.scn")).size();
    const qsizetype low = rowsOf(readFile(folder + "/" + name + "_low.scn")).size();
    EXPECT_EQ(row[2].toLongLong(), fit + high + low);
    EXPECT_EQ(row[3].toLongLong(), rowsOf(readFile(folder + "/" + name + ".fit")).size());
    EXPECT_NEAR(row[4].toDouble(), double(high) / 20000, 1e-6);
    EXPECT_NEAR(row[5].toDouble(), double(low) / 20000, 1e-6);
  }

  // A rerun that fails leaves no earlier report to be taken for a success.
  QFile::rename(path("flight2.txt"), path("gone.txt"));
  EXPECT_EQ(batch({"--output-dir=camp", "flight2.txt"}).status, 1);
  const ProcessResult later = batch(QStringList{"--summary-only", "--output-dir=camp"} + inputs);
  EXPECT_EQ(later.status, 1);
  EXPECT_TRUE(later.err.startsWith("scanfit-batch: failed: flight2.txt (no report): "
                                   "Cannot read from: "));
  EXPECT_EQ(later.err.count('\n'), 1) << later.err.constData();
}

// Every name holds a space, a quote and a non-ASCII letter, so that both
// ways of running meet them.
TEST_F(BatchTest, ThisMachineAndTwoStandInHostsGiveThePlainRunsOfAwkwardNames) {
  QStringList inputs;
  for (int k = 1; k <= 6; ++k) {
    inputs += QString("pilot's vol\u00e9 %1.bin").arg(k);
    generate("binary", inputs.last(), 20 + k, 3000);
  }
  for (const char* folder : {"hosts/h1", "hosts/h2", "home"}) QDir().mkpath(path(folder));
  writeFile(path("ssh"), kStandInSsh);
  QFile::setPermissions(path("ssh"), QFile::ReadOwner | QFile::ExeOwner);

  const ProcessResult away = batch(
      QStringList{"--binary", "--hosts", ":,h1,h2", "--output-dir=away"} + inputs,
      {"PARALLEL_SSH=" + path("ssh"), "HOSTS=" + path("hosts"), "HOME=" + path("home")});
  ASSERT_EQ(away.status, 0) << away.err.constData();
  for (const QString& input : inputs) {
    const QString name = QFileInfo(input).baseName();
    const QMap<QString, QByteArray> plain = plainRun(input, true);
    EXPECT_EQ(plain.size(), 5);
    EXPECT_TRUE(campaignRun(path("away/" + name)) == plain) << name.toStdString();
    EXPECT_EQ(readFile(path("away/" + name + "/scanfit.log")),
              "Binary file: " + input.toUtf8() + " open for reading.\n");
  }
  // All ran some, and kept nothing: this machine's jobs leave nothing in
  // ~/.parallel/tmp but GNU parallel's own notes on the hosts.
  const QByteArray joblog = readFile(path("away/joblog"));
  for (const char* host : {"\t:\t", "\th1\t", "\th2\t"})
    EXPECT_TRUE(joblog.contains(host)) << host;
  const auto entries = [](const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  };
  EXPECT_EQ(entries(path("hosts/h1")) + entries(path("hosts/h2")), QStringList());
  QStringList left = entries(path("home/.parallel/tmp"));
  left.removeAll("sshlogin");
  EXPECT_EQ(left, QStringList());
}

// The names come on standard input, the last one without a line end.
TEST_F(BatchTest, InputsOfOneNameAreRefusedBeforeAnythingRuns) {
  QDir().mkpath(path("a"));
  QDir().mkpath(path("b"));
  writeFile(path("a/x.txt"), "1 2 3 4 5 6\n");
  writeFile(path("b/x.bin"), "");
  const ProcessResult result = runShell(
      QString("printf 'a/x.txt\\nb/x.bin' | SCANFIT='%1' '%2' --output-dir camp -")
          .arg(SCANFIT_BINARY, SCANFIT_SOURCE_DIR "/tools/scanfit-batch"),
      dir.path());
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.err, "scanfit-batch: a/x.txt and b/x.bin would both write "
                        "to camp/x\nTry 'scanfit-batch --help'.\n");
  EXPECT_FALSE(QFileInfo::exists(path("camp")));
}

}  // namespace
