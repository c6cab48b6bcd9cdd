// The sample-flight generator: the same bytes from the same seed (on every
// machine, which the shipped sample pins down), the promised layout in each
// format, and the features the analyser is meant to meet in a flight.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "scan/point_record.h"

namespace {

struct GenflightRun {
  int status = -1;
  QByteArray out;
  QByteArray err;
};

GenflightRun runGenflight(const QStringList& args) {
  QProcess process;
  process.start(GENFLIGHT_BINARY, args);
  process.waitForFinished(60000);
  GenflightRun run;
  run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = process.readAllStandardOutput();
  run.err = process.readAllStandardError();
  return run;
}

QByteArray readWhole(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

// Writes a flight into `dir` and returns its bytes.
QByteArray generate(const QTemporaryDir& dir, int points, int seed,
                    const QString& format) {
  const QString path =
      dir.filePath(QString("flight-%1-%2-%3").arg(points).arg(seed).arg(format));
  const GenflightRun run =
      runGenflight({"--points", QString::number(points), "--seed", QString::number(seed),
                    "--format", format, "--output", path});
  EXPECT_EQ(run.status, 0) << run.err.constData();
  EXPECT_TRUE(run.out.isEmpty());
  return readWhole(path);
}

QList<QByteArray> textLines(const QByteArray& text) {
  QList<QByteArray> lines = text.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

// A text point read back into the scaled integers of the binary record:
// dropping the decimal point of a fixed-decimals field gives its scaled value.
PointRecord recordOfTextLine(const QByteArray& line) {
  const QList<QByteArray> f = line.split(' ');
  auto scaled = [](QByteArray field) { return field.replace('.', "").toInt(); };
  PointRecord r;
  r.col0E7 = scaled(f[0]);
  r.latitudeE7 = scaled(f[1]);
  r.longitudeE7 = scaled(f[2]);
  r.elevationE3 = scaled(f[3]);
  r.col4Byte = uint8_t(f[4].toInt());
  r.sweepIndexByte = uint8_t(f[5].toInt());
  return r;
}

bool sameRecord(const PointRecord& a, const PointRecord& b) {
  return a.col0E7 == b.col0E7 && a.latitudeE7 == b.latitudeE7 &&
         a.longitudeE7 == b.longitudeE7 && a.elevationE3 == b.elevationE3 &&
         a.col4Byte == b.col4Byte && a.sweepIndexByte == b.sweepIndexByte;
}

TEST(GenflightTest, SameSeedGivesSameBytesOtherSeedDifferentBytes) {
  QTemporaryDir dir;
  for (const QString format : {"six", "seven", "binary"}) {
    SCOPED_TRACE(format.toStdString());
    const QByteArray first = generate(dir, 5000, 11, format);
    EXPECT_EQ(generate(dir, 5000, 11, format), first);
    EXPECT_NE(generate(dir, 5000, 12, format), first);
  }

  // Without --output the same bytes go to standard output.
  const GenflightRun toStdout = runGenflight({"--points", "5000", "--seed", "11"});
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_EQ(toStdout.out, generate(dir, 5000, 11, "six"));
}

// The committed sample was written by the generator on another machine:
// regenerating it here proves the output does not depend on the platform.
TEST(GenflightTest, RegeneratesTheShippedSampleByteForByte) {
  const QString sample =
      QFileInfo(QString(__FILE__)).absolutePath() + "/../../data/sample_flight.txt";
  const QByteArray shipped = readWhole(sample);
  ASSERT_FALSE(shipped.isEmpty()) << sample.toStdString();
  QTemporaryDir dir;
  EXPECT_TRUE(generate(dir, 4000, 2, "six") == shipped);
}

TEST(GenflightTest, EachFormatHoldsExactlyTheRequestedPointsInItsLayout) {
  QTemporaryDir dir;
  const int points = 3000;
  const QByteArray six = generate(dir, points, 3, "six");
  const QByteArray seven = generate(dir, points, 3, "seven");
  const QByteArray binary = generate(dir, points, 3, "binary");

  const QRegularExpression sixLayout(
      R"(^\d{1,2}\.\d{7} \d{2}\.\d{7} -?\d{1,3}\.\d{7} -?\d+\.\d{3} \d{1,3} \d{1,3}$)");
  const QRegularExpression sevenTail(R"( [123]$)");
  const QList<QByteArray> sixLines = textLines(six);
  const QList<QByteArray> sevenLines = textLines(seven);
  ASSERT_TRUE(six.endsWith('\n'));
  ASSERT_EQ(sixLines.size(), points);
  ASSERT_EQ(sevenLines.size(), points);
  ASSERT_EQ(binary.size(), points * kPointRecordSize);

  // One flight in three forms: the seven-column line is the six-column one
  // plus a return number, and each record holds the text line's values.
  const auto* bytes = reinterpret_cast<const unsigned char*>(binary.constData());
  for (int i = 0; i < points; ++i) {
    SCOPED_TRACE(i);
    const QString line = QString::fromLatin1(sixLines[i]);
    ASSERT_TRUE(sixLayout.match(line).hasMatch()) << sixLines[i].constData();
    ASSERT_TRUE(sevenLines[i].startsWith(sixLines[i] + ' '));
    ASSERT_TRUE(sevenTail.match(QString::fromLatin1(sevenLines[i])).hasMatch());
    const QList<QByteArray> fields = sixLines[i].split(' ');
    ASSERT_LE(fields[4].toInt(), 255);
    ASSERT_LE(fields[5].toInt(), 250);
    const PointRecord text = recordOfTextLine(sixLines[i]);
    ASSERT_TRUE(sameRecord(decodePointRecord(bytes + i * kPointRecordSize), text));
  }

  EXPECT_TRUE(generate(dir, 0, 3, "six").isEmpty());
  EXPECT_EQ(generate(dir, 1, 3, "binary").size(), kPointRecordSize);
}

struct ScanLineStats {
  std::vector<int> lengths;
  int sweepOutOfRange = 0;
  int timeSteppingBack = 0;
  double widestGroundSpan = 0;
  double narrowestGroundSpan = 1e9;  // over lines of 150 points or more
};

double groundMetres(const PointRecord& a, const PointRecord& b) {
  const double metresPerDegree = 111120.0;
  const double north = (b.latitudeE7 - a.latitudeE7) / 1e7 * metresPerDegree;
  const double east = (b.longitudeE7 - a.longitudeE7) / 1e7 * metresPerDegree *
                      std::cos(a.latitudeE7 / 1e7 * 3.14159265358979323846 / 180.0);
  return std::sqrt(north * north + east * east);
}

// Cuts the points into scan lines where the sweep index stops rising, as the
// analyser does.
ScanLineStats scanLineStats(const std::vector<PointRecord>& points) {
  ScanLineStats stats;
  size_t start = 0;
  for (size_t i = 0; i <= points.size(); ++i) {
    const bool endOfLine =
        i == points.size() ||
        (i > 0 && points[i].sweepIndexByte <= points[i - 1].sweepIndexByte);
    if (endOfLine && i > start) {
      const int length = int(i - start);
      stats.lengths.push_back(length);
      if (length >= 150) {
        const double span = groundMetres(points[start], points[i - 1]);
        stats.widestGroundSpan = std::max(stats.widestGroundSpan, span);
        stats.narrowestGroundSpan = std::min(stats.narrowestGroundSpan, span);
      }
      start = i;
    }
    if (i == points.size()) break;
    if (points[i].sweepIndexByte > 250) ++stats.sweepOutOfRange;
    if (i > 0 && points[i].col0E7 < points[i - 1].col0E7) ++stats.timeSteppingBack;
  }
  return stats;
}

TEST(GenflightTest, LargeFlightHasScannerLinesIceSurfaceAndOutliers) {
  QTemporaryDir dir;
  const int points = 100000;
  const QList<QByteArray> lines = textLines(generate(dir, points, 5, "six"));
  ASSERT_EQ(lines.size(), points);
  std::vector<PointRecord> records;
  for (const QByteArray& line : lines) records.push_back(recordOfTextLine(line));

  const ScanLineStats stats = scanLineStats(records);
  EXPECT_EQ(stats.sweepOutOfRange, 0);
  EXPECT_EQ(stats.timeSteppingBack, 0);
  int fullLines = 0, glitchLines = 0;
  for (int length : stats.lengths) {
    fullLines += length >= 150 && length <= 251;
    glitchLines += length < 11;
  }
  const int lineCount = int(stats.lengths.size());
  EXPECT_GT(fullLines, lineCount * 8 / 10) << lineCount << " lines";
  EXPECT_GE(glitchLines, 1);
  EXPECT_LT(glitchLines, lineCount / 50);
  EXPECT_GT(stats.narrowestGroundSpan, 250.0);
  EXPECT_LT(stats.widestGroundSpan, 330.0);

  // A new line every ~0.05 s: 10^-7 hour is 0.36 ms.
  const double seconds = (records.back().col0E7 - records.front().col0E7) * 0.00036;
  EXPECT_NEAR(seconds / lineCount, 0.05, 0.003);

  int high = 0, low = 0, water = 0, levelIce = 0, ridge = 0;
  for (const PointRecord& r : records) {
    const int e = r.elevationE3;
    high += e > 15000;
    low += e < -50000;
    water += e > -80 && e < 80;
    levelIce += e >= 300 && e <= 1100;
    ridge += e > 2000 && e < 15000;
  }
  EXPECT_GT(high, points / 3000);  // about one point in 1000
  EXPECT_LT(high, points / 300);
  EXPECT_GT(low, points / 6000);  // about one point in 2000
  EXPECT_LT(low, points / 600);
  EXPECT_GT(levelIce, points / 2);
  EXPECT_GT(water, points / 1000);
  EXPECT_GT(ridge, points / 1000);
}

TEST(GenflightTest, BadArgumentsPrintTheUsageAndEndWithStatusTwo) {
  const QList<QStringList> cases = {
      {"--points"},        {"--points", "many"}, {"--points", "-5"},
      {"--points", "12x"}, {"--seed", ""},       {"--format", "csv"},
      {"--output", ""},    {"--colour", "red"},  {"stray"},
  };
  for (const QStringList& args : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const GenflightRun run = runGenflight(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.startsWith("usage: genflight "));
    EXPECT_TRUE(run.out.isEmpty());
  }
}

}  // namespace
