// Compressed flights, made by the compression programs themselves and read
// as they are stored: the same bytes as the uncompressed run for every form
// and compression, and a broken input fails as a read error.
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include "driver/scanfit_process.h"

namespace {

struct Compressor {
  QString name;       // as the report names it
  QString extension;
  QStringList command;
};

const Compressor kCompressors[] = {
    {"gzip", "gz", {"gzip", "-c"}},
    {"zstd", "zst", {"zstd", "-q", "-c"}},
    {"xz", "xz", {"xz", "-c"}},
    {"bzip2", "bz2", {"bzip2", "-c"}},
};

struct CompressedInputTest : ::testing::Test {
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }

  QByteArray generate(const QString& format, int points) {
    const QString name = "generated." + format;
    const ProcessResult made = runProgram(
        GENFLIGHT_BINARY,
        {"--points", QString::number(points), "--seed", "5", "--format",
         format, "--output", name},
        dir.path());
    EXPECT_EQ(made.status, 0) << made.err.constData();
    return readFile(path(name));
  }
};

// `bytes` compressed by the program of `command` (reading standard input).
QByteArray compressed(const QStringList& command, const QByteArray& bytes,
                      const QString& workDir) {
  const ProcessResult made =
      runProgram(command.first(), command.mid(1), workDir, bytes);
  EXPECT_EQ(made.status, 0) << command.join(' ').toStdString();
  EXPECT_FALSE(made.out.isEmpty()) << command.join(' ').toStdString();
  return made.out;
}

// The outputs in `folder` by name, and the messages after the line that
// names the input.
QMap<QString, QByteArray> outputsOf(const QString& folder,
                                    const ProcessResult& result) {
  QMap<QString, QByteArray> outputs;
  for (const QString& name : listDir(folder))
    outputs[name] = readFile(folder + "/" + name);
  outputs["(messages)"] = result.err.mid(result.err.indexOf('\n') + 1);
  return outputs;
}

QByteArray asUtf16le(const QByteArray& text) {
  const QString decoded = QString::fromLatin1(text);
  return QByteArray("\xff\xfe") +
         QByteArray(reinterpret_cast<const char*>(decoded.utf16()),
                    decoded.size() * 2);
}

TEST_F(CompressedInputTest, EveryFormAndCompressionGivesTheBytesOfThePlainRun) {
  // Text with a rejected header line, so that messages must keep their
  // line indexes; each form's plain run gives the expected bytes.
  const QByteArray six = "a header\n" + generate("six", 3000);
  const struct {
    QString name;
    QByteArray bytes;
    QStringList options;
  } forms[] = {
      {"six", six, {}},
      {"seven", "a header\n" + generate("seven", 3000), {}},
      {"binary", generate("binary", 3000), {"-b"}},
      {"utf16", asUtf16le(six), {}},
  };
  for (const auto& form : forms) {
    writeFile(path("flight.plain"), form.bytes);
    const QString plainDir = form.name + "-plain";
    const ProcessResult plain = runScanfit(
        form.options + QStringList{"--output-dir=" + plainDir,
                                   "--report=plain.json", "flight.plain"},
        dir.path());
    ASSERT_EQ(plain.status, 0) << plain.err.constData();
    const QMap<QString, QByteArray> expected = outputsOf(path(plainDir), plain);
    ASSERT_EQ(expected.size(), 6);
    const QJsonObject plainReport =
        QJsonDocument::fromJson(readFile(path("plain.json"))).object();
    EXPECT_EQ(plainReport["input"]["compression"].toString(), "none");

    for (const Compressor& c : kCompressors) {
      // Two members (frames, streams), the first ending inside a line or
      // record, as parallel compressors and `cat` make them.
      const qsizetype cut = form.bytes.size() * 2 / 5 + 1;
      const QByteArray bytes = compressed(c.command, form.bytes.left(cut), dir.path()) +
                               compressed(c.command, form.bytes.mid(cut), dir.path());
      const QString input = "flight." + c.extension;
      writeFile(path(input), bytes);
      const QString outDir = form.name + "-" + c.name;
      const ProcessResult run = runScanfit(
          form.options + QStringList{"--output-dir=" + outDir,
                                     "--report=run.json", input},
          dir.path());
      EXPECT_EQ(run.status, 0) << outDir.toStdString() << run.err.constData();
      EXPECT_TRUE(outputsOf(path(outDir), run) == expected) << outDir.toStdString();
      const QJsonObject report =
          QJsonDocument::fromJson(readFile(path("run.json"))).object();
      EXPECT_EQ(report["input"]["compression"].toString(), c.name);
      EXPECT_EQ(report["input"]["bytes"].toInteger(), bytes.size());
      EXPECT_EQ(report["points"], plainReport["points"]) << outDir.toStdString();
    }
  }

  // Through a pipe: nothing is sought, the first bytes decide.
  const QByteArray binary = forms[2].bytes;
  QDir(dir.path()).mkdir("piped");
  const ProcessResult piped = runScanfit(
      {"-b", "/dev/stdin"}, path("piped"),
      compressed({"zstd", "-q", "-c"}, binary, dir.path()));
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(readFile(path("piped/stdin_fit.sbi")),
            readFile(path("binary-plain/flight_fit.sbi")));
  EXPECT_EQ(readFile(path("piped/stdin.fit")),
            readFile(path("binary-plain/flight.fit")));
}

TEST_F(CompressedInputTest, ABrokenInputFailsAsAReadErrorAndWritesNothing) {
  const QByteArray text = generate("six", 1500);
  QByteArray made[4];
  for (int k = 0; k < 4; ++k)
    made[k] = compressed(kCompressors[k].command, text, dir.path());
  const QByteArray cut = "Unexpected end of the compressed data";
  // The reasons are the libraries' own words, and scanfit's for an input
  // that ends too soon. A flipped bit in the stored check of the data:
  // gzip's CRC-32 and zstd's checksum are its last eight and four bytes,
  // xz's CRC-64 comes before an index of 12 bytes and a footer of 12, and
  // bzip2's combined CRC ends within the last byte.
  const struct {
    int compressor;
    const char* how;
    int checkFromEnd;
    QByteArray reason;
  } cases[] = {
      {0, "half", 0, cut},
      {0, "trailer", 0, cut},
      {0, "check", 7, "Incorrect checksum found"},
      {0, "garbage", 0, "Invalid gzip header found"},
      {1, "half", 0, cut},
      {1, "trailer", 0, cut},
      {1, "check", 2, "Restored data doesn't match checksum"},
      {1, "garbage", 0, "Unknown frame descriptor"},
      {2, "half", 0, cut},
      {2, "trailer", 0, cut},
      {2, "check", 30, "Compressed data is corrupt"},
      {2, "garbage", 0, "Compressed data is corrupt"},
      {3, "half", 0, cut},
      {3, "trailer", 0, cut},
      {3, "check", 3, "Data integrity (CRC) error in data"},
      {3, "garbage", 0, "Bad magic number (not a bzip2 stream)"},
  };
  for (const auto& c : cases) {
    const Compressor& compressor = kCompressors[c.compressor];
    QByteArray bytes = made[c.compressor];
    const QString how = c.how;
    if (how == "half") bytes.truncate(bytes.size() / 2);
    if (how == "trailer") bytes.chop(1);
    if (how == "check") bytes[bytes.size() - c.checkFromEnd] ^= 0x10;
    if (how == "garbage") bytes += "no compressed data\n";
    const QString folder = compressor.name + "-" + how;
    const QString file = "flight.txt." + compressor.extension;
    const QString input = folder + "/" + file;
    QDir(dir.path()).mkdir(folder);
    writeFile(path(input), bytes);

    const ProcessResult run = runScanfit({"--output-dir=" + folder, input}, dir.path());
    EXPECT_EQ(run.status, 255) << folder.toStdString();
    EXPECT_TRUE(run.err.endsWith("Cannot read from: " + input.toUtf8() + "\n" +
                                 c.reason + "\n"))
        << folder.toStdString() << ": " << run.err.right(300).constData();
    EXPECT_EQ(listDir(path(folder)), QStringList{file});
  }

  // A read that fails midway is a read error too.
  writeFile(path("flight.txt.gz"), made[0]);
  const pid_t pid = startProgram(
      SCANFIT_BINARY, {"--output-dir=eio", "flight.txt.gz"}, dir.path(),
      path("eio.err"),
      {QString("LD_PRELOAD=") + FAULT_SHIM,
       "SCANFIT_FAULT_READ_PATH=" + path("flight.txt.gz"),
       "SCANFIT_FAULT_READ_AFTER=5000",
       "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
  const int status = waitForExit(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << status;
  EXPECT_TRUE(readFile(path("eio.err"))
                  .endsWith("Cannot read from: flight.txt.gz\nInput/output error\n"));
  EXPECT_FALSE(QFileInfo::exists(path("eio")));
}

TEST_F(CompressedInputTest, AnInputThatNeedsTooMuchMemoryIsRefusedWithWhatItNeeds) {
  // Compressed from a pipe, where the size is not known ahead: xz -9 keeps
  // its 64 MiB dictionary (65 MiB with the decoder), zstd --ultra -22 its
  // 128 MiB window. scanfit allows 33 MiB and windows of 32 MiB.
  const QByteArray text = generate("six", 200);
  const struct {
    QStringList command;
    QByteArray reason;
  } cases[] = {
      {{"xz", "-9", "-c"},
       "Memory usage limit reached: the input needs 65 MiB, scanfit allows 33 MiB"},
      {{"zstd", "-q", "--ultra", "-22", "-c"},
       "Frame requires too much memory for decoding: scanfit decompresses "
       "windows of at most 32 MiB"},
      // Levels that fit: xz -8, zstd --ultra -20.
      {{"xz", "-8", "-c"}, ""},
      {{"zstd", "-q", "--ultra", "-20", "-c"}, ""},
  };
  for (const auto& c : cases) {
    writeFile(path("flight.compressed"), compressed(c.command, text, dir.path()));
    const ProcessResult run = runScanfit({"flight.compressed"}, dir.path());
    if (c.reason.isEmpty()) {
      EXPECT_EQ(run.status, 0) << run.err.constData();
    } else {
      EXPECT_EQ(run.status, 255);
      EXPECT_EQ(run.err, "flight.compressed open for reading.\n"
                         "Cannot read from: flight.compressed\n" +
                             c.reason + "\n");
    }
  }
}

}  // namespace
