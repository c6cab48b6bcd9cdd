// The long options, seen as a user sees them: --help and --version, "--",
// --output-dir, --report, errors in the command line, the status line on
// a terminal, and the manual page.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <oneapi/tbb/version.h>

#include <algorithm>
#include <cmath>

#include "driver/scanfit_process.h"
#include "scan/point_record.h"

namespace {

struct LongOptionsTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }

  void generate(const QString& format, const QString& name, int points) {
    const ProcessResult made = runProgram(
        GENFLIGHT_BINARY,
        {"--points", QString::number(points), "--seed", "3", "--format",
         format, "--output", name},
        dir.path());
    ASSERT_EQ(made.status, 0);
  }
};

QList<QByteArray> rowsOf(const QByteArray& text) {
  QList<QByteArray> rows = text.split('\n');
  rows.removeLast();
  return rows;
}

TEST_F(LongOptionsTest, HelpAndVersionAnswerOnStandardOutputAndTouchNothing) {
  for (const QStringList& args :
       {QStringList{"--help"}, QStringList{"-b", "x.txt", "--help"}}) {
    const ProcessResult help = runScanfit(args, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: scanfit [OPTION]... [-b] INPUT\n"));
    for (const char* option : {"-b, /b", "-a, /a", "--output-dir=DIR",
                               "--report=FILE", "--threads=N", "--help",
                               "--version", "\n  --  ", "Exit status:"})
      EXPECT_TRUE(help.out.contains(option)) << option;
    EXPECT_EQ(help.err, "");
  }
  const ProcessResult version = runScanfit({"--version"}, dir.path());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, QByteArray("scanfit ") + SCANFIT_VERSION + "\nQt " +
                             qVersion() + "\noneTBB " + TBB_runtime_version() +
                             "\n");
  EXPECT_EQ(listDir(dir.path()), QStringList());
}

TEST_F(LongOptionsTest, ErrorsInTheCommandLineAreNamedAndNothingIsCreated) {
  writeFile(path("in.txt"), "1 2 3 4 5 6\n");
  writeFile(path("afile"), "");
  const struct {
    QStringList args;
    QByteArray first;
  } cases[] = {
      {{"--ouput-dir=x", "in.txt"}, "Unknown option: --ouput-dir=x"},
      {{"in.txt", "--reprot", "r.json"}, "Unknown option: --reprot"},
      {{"--help=1"}, "Option --help takes no value"},
      {{"--report=", "in.txt"}, "Empty value for --report"},
      {{"--threads", "0", "--report=r.json", "in.txt"},
       "Invalid value for --threads: 0 (a whole number from 1 to 1024)"},
      {{"in.txt", "--threads=abc"},
       "Invalid value for --threads: abc (a whole number from 1 to 1024)"},
      {{"--threads=1025", "in.txt"},
       "Invalid value for --threads: 1025 (a whole number from 1 to 1024)"},
      {{"in.txt", "--threads"}, "Missing value for --threads"},
  };
  for (const auto& c : cases) {
    const ProcessResult result = runScanfit(c.args, dir.path());
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, c.first + "\nTry 'scanfit --help'.\n");
    EXPECT_EQ(listDir(dir.path()), (QStringList{"afile", "in.txt"}));
  }
  for (const char* folder : {"afile", "afile/sub"}) {
    const ProcessResult result =
        runScanfit({"--output-dir", folder, "--report=r.json", "in.txt"},
                   dir.path());
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, QByteArray("Cannot create output folder: ") + folder +
                              "\nNot a directory\n");
    EXPECT_EQ(listDir(dir.path()), (QStringList{"afile", "in.txt"}));
  }
  // A report that would replace an output is refused; a run that fails
  // takes the folders it made with it.
  const struct {
    QStringList args;
    QByteArray err;
  } refused[] = {
      {{"--output-dir=made/here", "--report=./made/here/in_fit.ver", "in.txt"},
       "Cannot write to: ./made/here/in_fit.ver\nThe report is also an output "
       "of this run: made/here/in_fit.ver\n"},
      {{"--output-dir=made/here", "--report=nowhere/r.json", "in.txt"},
       "in.txt open for reading.\nCannot write to: nowhere/r.json\n"
       "No such file or directory\n"},
  };
  for (const auto& r : refused) {
    const ProcessResult result = runScanfit(r.args, dir.path());
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, r.err);
    EXPECT_EQ(listDir(dir.path()), (QStringList{"afile", "in.txt"}));
  }
}

// The outputs of a run in a folder of their own are those of the same run
// here, messages included; "--" lets an input start with a dash.
TEST_F(LongOptionsTest, OutputFoldersAreMadeAndGetTheSameBytes) {
  generate("six", "-flight.txt", 3000);
  generate("binary", "flight.bin", 3000);
  QDir(dir.path()).mkdir("here");
  const ProcessResult here = runScanfit({"--", "../-flight.txt"}, path("here"));
  const ProcessResult hereBinary = runScanfit({"-b", "../flight.bin"}, path("here"));
  ASSERT_EQ(here.status, 0);
  ASSERT_EQ(hereBinary.status, 0);
  const struct {
    QStringList args;
    QString folder;
  } runs[] = {
      {{"--output-dir=out/a", "--", "-flight.txt"}, "out/a"},
      {{"-b", "--output-dir", "out/b/", "fl*.bin"}, "out/b"},
  };
  for (const auto& run : runs) {
    const ProcessResult result = runScanfit(run.args, dir.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, run.args.contains("-b") ? hereBinary.err : here.err);
    const QStringList outputs = listDir(path(run.folder));
    EXPECT_EQ(outputs.size(), 5);
    for (const QString& name : outputs)
      EXPECT_EQ(readFile(path(run.folder + "/" + name)),
                readFile(path("here/" + name)))
          << name.toStdString();
  }
  // An input that is one of the outputs in the folder is refused.
  const ProcessResult own =
      runScanfit({"--output-dir=out/a", "out/a/-flight.fit"}, dir.path());
  EXPECT_EQ(own.status, 255);
  EXPECT_EQ(own.err, "Cannot read from: out/a/-flight.fit\n"
                     "The input is also an output of this run: "
                     "out/a/-flight.fit\n");
}

// Every count of the report, checked against what the outputs and the
// input hold.
void expectReportAgrees(const QJsonObject& report, const QString& runDir,
                        const QString& folder, const QString& name,
                        bool binary) {
  const auto rows = [&](const QString& suffix) {
    const QByteArray bytes = readFile(folder + "/" + name + suffix);
    return binary && suffix.endsWith(".sbi")
               ? bytes.size() / kPointRecordSize
               : rowsOf(bytes).size();
  };
  const QString points = binary ? ".sbi" : ".scn";
  const QJsonObject classes = report["classes"].toObject();
  EXPECT_EQ(classes["fit"].toInteger(), rows("_fit" + points));
  EXPECT_EQ(classes["high"].toInteger(), rows("_high" + points));
  EXPECT_EQ(classes["low"].toInteger(), rows("_low" + points));
  EXPECT_EQ(report["points"].toInteger(),
            classes["fit"].toInteger() + classes["high"].toInteger() +
                classes["low"].toInteger() + classes["none"].toInteger());
  EXPECT_EQ(report["fittedLines"].toInteger(), rows(".fit"));
  const QJsonObject nadirs = report["nadirRecords"].toObject();
  EXPECT_EQ(nadirs["measured"].toInteger() + nadirs["interpolated"].toInteger(),
            rows("_fit.ver"));
  for (const QJsonValue& output : report["outputs"].toArray()) {
    const QString file = output["name"].toString();
    EXPECT_EQ(output["bytes"].toInteger(), QFileInfo(runDir + "/" + file).size())
        << file.toStdString();
  }

  // Sigma: the last field of every .fit row, to its three decimals (the
  // fields before it may run into each other); "nan" counts apart, and
  // "inf" is null in JSON.
  QList<double> sigmas;
  qint64 notANumber = 0;
  for (const QByteArray& row : rowsOf(readFile(folder + "/" + name + ".fit"))) {
    const QByteArray field = row.trimmed().split(' ').last();
    if (field == "nan" || field == "-nan") ++notANumber;
    else sigmas.append(field == "inf" ? INFINITY : field.toDouble());
  }
  std::sort(sigmas.begin(), sigmas.end());
  const QJsonObject sigma = report["sigma"].toObject();
  const qsizetype n = sigmas.size();
  EXPECT_EQ(sigma["lines"].toInteger(), n);
  EXPECT_EQ(sigma["notANumber"].toInteger(), notANumber);
  const struct {
    const char* key;
    double expected;
  } ranks[] = {{"min", sigmas.front()},
               {"q1", sigmas[(n + 3) / 4 - 1]},
               {"median", sigmas[(2 * n + 3) / 4 - 1]},
               {"q3", sigmas[(3 * n + 3) / 4 - 1]},
               {"max", sigmas.back()}};
  for (const auto& r : ranks) {
    if (std::isinf(r.expected))
      EXPECT_TRUE(sigma[r.key].isNull()) << r.key;
    else
      EXPECT_NEAR(sigma[r.key].toDouble(), r.expected, 5e-4) << r.key;
  }
}

TEST_F(LongOptionsTest, TheReportAgreesWithTheOutputs) {
  generate("six", "flight.txt", 20000);
  generate("binary", "flight.bin", 20000);
  // A rejected line and the scan lines counted from the input itself.
  QByteArray text = readFile(path("flight.txt"));
  text.prepend("a header\n");
  writeFile(path("flight.txt"), text);
  qint64 scanLines = 0;
  int previousSweep = 1 << 30;
  for (const QByteArray& line : rowsOf(text).mid(1)) {
    const int sweep = line.split(' ').last().toInt();
    if (sweep <= previousSweep) ++scanLines;
    previousSweep = sweep;
  }

  const ProcessResult text1 =
      runScanfit({"--report=t.json", "--output-dir=t", "flight.txt"}, dir.path());
  ASSERT_EQ(text1.status, 0);
  const QJsonObject report = QJsonDocument::fromJson(readFile(path("t.json"))).object();
  EXPECT_EQ(report["scanfit"].toString(), SCANFIT_VERSION);
  EXPECT_EQ(report["input"]["form"].toString(), "six-column");
  EXPECT_EQ(report["input"]["bytes"].toInteger(), text.size());
  EXPECT_EQ(report["points"].toInteger(), 20000);
  EXPECT_EQ(report["textLines"].toInteger(), 20002);  // the empty last one
  EXPECT_EQ(report["rejectedLines"].toInteger(), 2);
  EXPECT_EQ(report["scanLines"].toInteger(), scanLines);
  EXPECT_GE(report["threads"].toInt(), 1);
  expectReportAgrees(report, dir.path(), path("t"), "flight", false);

  // The same flight in binary, the report on standard output after the run.
  const ProcessResult binary = runScanfit(
      {"-b", "--report", "-", "--output-dir=b", "flight.bin"}, dir.path());
  ASSERT_EQ(binary.status, 0);
  const QJsonObject fromBinary = QJsonDocument::fromJson(binary.out).object();
  EXPECT_EQ(fromBinary["input"]["form"].toString(), "binary");
  EXPECT_EQ(fromBinary["points"].toInteger(), 20000);
  EXPECT_EQ(fromBinary["sigma"], report["sigma"]);
  EXPECT_EQ(fromBinary["bounds"], report["bounds"]);
  expectReportAgrees(fromBinary, dir.path(), path("b"), "flight", true);
}

// A campaign knows a run's input again by the report's path, size and
// modification time; a pipe has neither size nor time.
TEST_F(LongOptionsTest, TheReportNamesItsInputByPathSizeAndTime) {
  ASSERT_TRUE(QDir(dir.path()).mkpath("sub"));
  writeFile(path("sub/f.txt"), "1 2 3 4 5 6\n");
  // 2001-02-03 04:05:06 UTC is 981173106 seconds after the epoch.
  const timespec times[2] = {{981173106, 123456789}, {981173106, 123456789}};
  ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path("sub/f.txt")).constData(),
                      times, 0), 0);
  const ProcessResult file =
      runScanfit({"--report=-", "--", "sub/..//sub/./f.txt"}, dir.path());
  ASSERT_EQ(file.status, 0);
  const QJsonObject input = QJsonDocument::fromJson(file.out)["input"].toObject();
  EXPECT_EQ(input["path"].toString(),
            QDir(dir.path()).canonicalPath() + "/sub/f.txt");
  EXPECT_EQ(input["size"].toInteger(), 12);
  EXPECT_EQ(input["modified"].toString(), "2001-02-03T04:05:06.123456789Z");

  const ProcessResult piped =
      runScanfit({"--report=-", "/dev/stdin"}, dir.path(), "1 2 3 4 5 6\n");
  ASSERT_EQ(piped.status, 0);
  const QJsonObject fromPipe = QJsonDocument::fromJson(piped.out)["input"].toObject();
  EXPECT_EQ(fromPipe["path"].toString(), "/dev/stdin");
  EXPECT_TRUE(fromPipe["size"].isNull());
  EXPECT_TRUE(fromPipe["modified"].isNull());
}

// Names that lead to a FIFO (or a device) or to the process's own
// standard output are written as streams and stay what they are; a link
// to a file not there yet makes the file; standard output that cannot be
// written fails the run. (The names are the test's own: a run that
// replaced /dev/null or /dev/stdout would break the machine.)
TEST_F(LongOptionsTest, StreamsAndLinksAreWrittenThroughNotReplaced) {
  generate("six", "in.txt", 3000);
  QDir().mkpath(path("plain"));
  ASSERT_EQ(runScanfit({"../in.txt"}, path("plain")).status, 0);
  QDir().mkpath(path("made"));
  QFile::link("made/in.fit", path("in.fit"));
  const ProcessResult run = runShell(
      QString("mkfifo in_high.scn && { timeout 20 cat in_high.scn > high.copy & } && "
              "'%1' in.txt && wait && test -p in_high.scn && "
              "cmp high.copy plain/in_high.scn").arg(SCANFIT_BINARY),
      dir.path());
  EXPECT_EQ(run.status, 0) << run.err.constData();
  EXPECT_EQ(QFileInfo(path("in.fit")).symLinkTarget(), path("made/in.fit"));
  EXPECT_EQ(readFile(path("made/in.fit")), readFile(path("plain/in.fit")));

  // A run of no fitted line: the sigma keys are there, null.
  writeFile(path("few.txt"), "1 2 3 4 5 6\n");
  QFile::link("/proc/self/fd/1", path("stdout"));
  const ProcessResult piped = runScanfit({"--report=stdout", "few.txt"}, dir.path());
  EXPECT_EQ(QFileInfo(path("stdout")).symLinkTarget(), "/proc/self/fd/1");
  const QJsonObject sigma = QJsonDocument::fromJson(piped.out)["sigma"].toObject();
  EXPECT_EQ(sigma["lines"].toInteger(-1), 0);
  for (const char* key : {"min", "q1", "median", "q3", "max"})
    EXPECT_TRUE(sigma[key].isNull()) << key;

  const QString full = QString("'%1' %2 > /dev/full").arg(SCANFIT_BINARY);
  const ProcessResult report = runShell(full.arg("--report=- few.txt"), dir.path());
  EXPECT_EQ(report.status, 255);
  EXPECT_TRUE(report.err.endsWith("Cannot write to: standard output\n"
                                  "No space left on device\n"));
  EXPECT_TRUE(QFileInfo::exists(path("few_fit.ver")));
  EXPECT_EQ(runShell(full.arg("--help"), dir.path()).status, 255);
}

TEST_F(LongOptionsTest, AStatusLineOnATerminalOnly) {
  generate("six", "flight.txt", 30000);
  QByteArray text = readFile(path("flight.txt"));
  text.append("a late rejected line\n");
  writeFile(path("flight.txt"), text);
  // The input's first read waits a second and a half: the run passes a
  // second, and its status line shows.
  const QString faults =
      QString("LD_PRELOAD=%1 SCANFIT_FAULT_READ_PATH=flight.txt "
              "SCANFIT_FAULT_READ_PAUSE_AT=0 SCANFIT_FAULT_READ_PAUSE_MS=1500 "
              "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0")
          .arg(FAULT_SHIM);
  const ProcessResult onTerminal = runShell(
      QString("script -qec \"%1 '%2' flight.txt\" /dev/null").arg(faults, SCANFIT_BINARY),
      dir.path());
  ASSERT_EQ(onTerminal.status, 0) << onTerminal.out.constData();
  // The terminal's transcript: the status line drawn at least once, erased
  // before the messages and at the end; without it, the run's messages.
  const QByteArray shown = onTerminal.out;
  const QRegularExpression statusLine("\r\x1b\\[K(scanfit: [^\r\n]*)?");
  EXPECT_TRUE(shown.contains("% read, ") && shown.contains(" M points/s, ") &&
              shown.contains(" s left"))
      << shown.constData();
  EXPECT_FALSE(shown.mid(shown.lastIndexOf("\x1b[K")).contains("scanfit:"));
  EXPECT_EQ(QString::fromLatin1(shown).remove(statusLine),
            "flight.txt open for reading.\r\n"
            "30000 4 a late rejected line\r\n30001 1 \r\n");

  const ProcessResult logged = runShell(
      QString("%1 '%2' flight.txt").arg(faults, SCANFIT_BINARY), dir.path());
  EXPECT_EQ(logged.err, "flight.txt open for reading.\n"
                        "30000 4 a late rejected line\n30001 1 \n");
}

TEST(ManualPage, RendersWithoutWarnings) {
  const ProcessResult man = runShell(
      QString("MANWIDTH=80 man --warnings -E UTF-8 -l '%1/doc/scanfit.1'")
          .arg(SCANFIT_SOURCE_DIR),
      QDir::tempPath());
  EXPECT_EQ(man.status, 0);
  EXPECT_EQ(man.err, "");
  EXPECT_TRUE(man.out.contains("--output-dir=DIR"));
}

}  // namespace
