// Whole runs on generated flights: properties that every run must keep,
// whatever the data.
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "driver/scanfit_process.h"
#include "scan/point_record.h"

namespace {

constexpr int kPoints = 60000;

struct FlightRunTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }

  void generate(const QString& format, const QString& name) {
    const ProcessResult result = runProgram(
        GENFLIGHT_BINARY,
        {"--points", QString::number(kPoints), "--seed", "11", "--format",
         format, "--output", name},
        dir.path());
    ASSERT_EQ(result.status, 0) << result.err.constData();
  }
};

QList<QByteArray> rowsOf(const QByteArray& text) {
  QList<QByteArray> rows = text.split('\n');
  rows.removeLast();  // the empty part after the last line feed
  return rows;
}

// col0 of a text point row or of a binary record, as written.
double timeOfRow(const QByteArray& row) { return row.left(9).toDouble(); }

TEST_F(FlightRunTest, TextAndBinaryFormsOfOneFlightGiveTheSameResults) {
  generate("six", "six.txt");
  generate("seven", "seven.txt");
  generate("binary", "bin.dat");
  ASSERT_EQ(runScanfit({"six.txt"}, dir.path()).status, 0);
  ASSERT_EQ(runScanfit({"seven.txt"}, dir.path()).status, 0);
  ASSERT_EQ(runScanfit({"-b", "bin.dat"}, dir.path()).status, 0);

  // Text holds each value as the decimal form of the record's integer, so
  // the columns, and everything computed from them, are the same.
  const QByteArray fit = readFile(path("six.fit"));
  const QByteArray ver = readFile(path("six_fit.ver"));
  EXPECT_GT(rowsOf(fit).size(), 200);
  EXPECT_GT(rowsOf(ver).size(), 100);
  EXPECT_LE(rowsOf(ver).size(), rowsOf(fit).size());
  EXPECT_EQ(readFile(path("seven.fit")), fit);
  EXPECT_EQ(readFile(path("bin.fit")), fit);
  EXPECT_EQ(readFile(path("seven_fit.ver")), ver);
  EXPECT_EQ(readFile(path("bin_fit.ver")), ver);

  int written = 0;
  for (const char* cls : {"fit", "high", "low"}) {
    const QList<QByteArray> six = rowsOf(readFile(path(QString("six_%1.scn").arg(cls))));
    const QList<QByteArray> seven = rowsOf(readFile(path(QString("seven_%1.scn").arg(cls))));
    const QByteArray records = readFile(path(QString("bin_%1.sbi").arg(cls)));
    ASSERT_EQ(six.size(), seven.size()) << cls;
    ASSERT_EQ(records.size(), qsizetype(six.size()) * kPointRecordSize) << cls;
    written += six.size();
    for (int i = 0; i < six.size(); ++i) {
      // Same point, same values: the seven-column row only adds a field.
      ASSERT_EQ(seven[i].left(50), six[i].left(50)) << cls << " row " << i;
      ASSERT_EQ(seven[i].mid(54), six[i].mid(50)) << cls << " row " << i;
      // Input order is kept: the generator's times never decrease.
      if (i > 0) {
        ASSERT_LE(timeOfRow(six[i - 1]), timeOfRow(six[i]));
      }
    }
  }
  EXPECT_LE(written, kPoints);
  EXPECT_GT(written, kPoints * 9 / 10);
}

// The residual field of a six-column point row.
double residualOfRow(const QByteArray& row) { return row.mid(50, 10).toDouble(); }

TEST_F(FlightRunTest, EachPointFileHoldsItsClassOnly) {
  generate("six", "flight.txt");
  ASSERT_EQ(runScanfit({"flight.txt"}, dir.path()).status, 0);
  const QList<QByteArray> fit = rowsOf(readFile(path("flight_fit.scn")));
  const QList<QByteArray> high = rowsOf(readFile(path("flight_high.scn")));
  const QList<QByteArray> low = rowsOf(readFile(path("flight_low.scn")));
  EXPECT_FALSE(high.isEmpty());
  EXPECT_FALSE(low.isEmpty());
  // Written with three decimals: a residual just beyond a limit may show
  // as the limit itself, never as less.
  for (const QByteArray& row : fit) {
    ASSERT_NE(row.mid(50, 10).trimmed(), "nan") << row.constData();
    ASSERT_GE(residualOfRow(row), -50.0) << row.constData();
    ASSERT_LE(residualOfRow(row), 5.0) << row.constData();
  }
  for (const QByteArray& row : high) {
    ASSERT_GE(residualOfRow(row), 5.0) << row.constData();
  }
  for (const QByteArray& row : low) {
    ASSERT_LE(residualOfRow(row), -50.0) << row.constData();
  }
}

// The outputs a run left in `folder`, by name, and what it wrote to
// standard error.
QMap<QString, QByteArray> runOutputs(const QString& folder,
                                     const ProcessResult& result) {
  QMap<QString, QByteArray> outputs;
  for (const QString& name : listDir(folder))
    outputs[name] = readFile(folder + "/" + name);
  outputs["(stderr)"] = result.err;
  return outputs;
}

TEST_F(FlightRunTest, EveryThreadCountWritesTheSameBytes) {
  generate("six", "flight.txt");
  generate("binary", "flight.dat");
  // Rejected lines all through the flight: their messages must keep their
  // order and their indexes whichever thread converts them.
  QList<QByteArray> lines = readFile(path("flight.txt")).split('\n');
  for (qsizetype i = 1; i < lines.size(); i += 997) lines.insert(i, "a header");
  writeFile(path("mixed.txt"), lines.join('\n'));

  const struct {
    QString name;
    QStringList input;
  } runs[] = {{"text", {"../mixed.txt"}}, {"binary", {"-b", "../flight.dat"}}};
  const QStringList threadCounts[] = {
      {"--threads=1"}, {"--threads=2"}, {"--threads", "8"}, {}};
  for (const auto& run : runs) {
    QMap<QString, QByteArray> expected;
    for (const QStringList& threads : threadCounts) {
      const QString folder = run.name + threads.join("");
      QDir(dir.path()).mkdir(folder);
      const ProcessResult result = runScanfit(threads + run.input, path(folder));
      EXPECT_EQ(result.status, 0);
      const QMap<QString, QByteArray> outputs = runOutputs(path(folder), result);
      if (expected.isEmpty()) expected = outputs;
      EXPECT_EQ(outputs.size(), 6);
      EXPECT_TRUE(outputs == expected) << folder.toStdString();
    }
  }
}

TEST_F(FlightRunTest, PipesServeAsInput) {
  generate("six", "flight.txt");
  generate("binary", "flight.dat");
  ASSERT_EQ(runScanfit({"flight.txt"}, dir.path()).status, 0);
  QDir(dir.path()).mkdir("piped");
  const ProcessResult text = runScanfit({"/dev/stdin"}, path("piped"),
                                        readFile(path("flight.txt")));
  EXPECT_EQ(text.status, 0);
  EXPECT_TRUE(text.err.startsWith("stdin open for reading.\n"));
  EXPECT_EQ(readFile(path("piped/stdin.fit")), readFile(path("flight.fit")));
  EXPECT_EQ(readFile(path("piped/stdin_fit.scn")), readFile(path("flight_fit.scn")));

  const ProcessResult binary = runScanfit({"-b", "/dev/stdin"}, path("piped"),
                                          readFile(path("flight.dat")));
  EXPECT_EQ(binary.status, 0);
  EXPECT_EQ(binary.err, "Binary file: stdin open for reading.\n");
  EXPECT_EQ(readFile(path("piped/stdin.fit")), readFile(path("flight.fit")));
}

}  // namespace
