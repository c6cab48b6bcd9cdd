// Runs that are stopped or fail midway: whatever ends them, the directory
// holds what it held before, earlier outputs byte for byte, or, for a run
// that got to put its outputs in place, exactly the five new ones; never a
// mix of two runs, and no temporary file. Two runs into one folder take
// turns.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/output_file.h"
#include "driver/scanfit_process.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's runtime must come first; a preloaded library goes
// before it.
const QString kPreloadOptions =
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:verify_asan_link_order=0";
constexpr bool kMemoryCanBeLimited = false;  // it reserves terabytes
#else
const QString kPreloadOptions = "ASAN_OPTIONS=";
constexpr bool kMemoryCanBeLimited = true;
#endif

const QStringList kOutputs = {"flight.fit", "flight_fit.scn", "flight_fit.ver",
                              "flight_high.scn", "flight_low.scn"};

struct StoppedRunTest : ::testing::Test {
  QTemporaryDir dir;
  QString run = dir.filePath("run");  // where scanfit runs
  QString errorPath = dir.filePath("stderr");
  QByteArray flight;

  void SetUp() override {
    ASSERT_TRUE(QDir().mkpath(run));
    const ProcessResult made = runProgram(
        GENFLIGHT_BINARY,
        {"--points", "300000", "--seed", "5", "--output", "flight.txt"},
        dir.path());
    ASSERT_EQ(made.status, 0);
    flight = readFile(dir.filePath("flight.txt"));
    // Outputs of an earlier run, which must survive every failed one.
    writeFile(run + "/flight.fit", "earlier fit\n");
    writeFile(run + "/flight_low.scn", "earlier low\n");
  }

  // The run directory: file names and contents, folders by name.
  QMap<QString, QByteArray> contents() const {
    QMap<QString, QByteArray> files;
    for (const QString& name : listDir(run)) {
      const QString file = run + "/" + name;
      files[name] = QFileInfo(file).isFile() ? readFile(file) : "(folder)";
    }
    return files;
  }

  // What a run that completes writes.
  QMap<QString, QByteArray> completedOutputs() {
    const QString clean = dir.filePath("clean");
    QDir().mkpath(clean);
    EXPECT_EQ(runScanfit({"../flight.txt"}, clean).status, 0);
    QMap<QString, QByteArray> files;
    for (const QString& name : kOutputs) files[name] = readFile(clean + "/" + name);
    return files;
  }

  pid_t start(const QStringList& args, const QStringList& environment = {}) {
    return startProgram(SCANFIT_BINARY, args, run, errorPath,
                        environment + QStringList{kPreloadOptions});
  }
  pid_t startWithFaults(const QStringList& args, const QStringList& faults) {
    return start(args, faults + QStringList{QString("LD_PRELOAD=") + FAULT_SHIM});
  }
};

bool endedBy(int status, int signal) {
  return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

// The bytes of the flight a run on a FIFO is fed before it is stopped.
constexpr qsizetype kFed = qsizetype(1) << 20;

// Feeds the run `pid`, reading the FIFO `fifo`, the first kFed bytes of the
// flight, sends `signal` and ends the input; returns the run's wait status
// once it has ended. The writes return once the run has read all but a
// pipe's worth: it is reading, writing and holding its outputs when the
// signal comes. A run that ended early must fail the test, not stop it.
int stopPartway(StoppedRunTest& test, const QString& fifo, pid_t pid, int signal) {
  const sighandler_t pipeAction = ::signal(SIGPIPE, SIG_IGN);
  const int input = open(QFile::encodeName(fifo).constData(), O_WRONLY);
  EXPECT_EQ(write(input, test.flight.constData(), size_t(kFed)), kFed);
  kill(pid, signal);
  close(input);
  ::signal(SIGPIPE, pipeAction);
  return waitForExit(pid);
}

TEST_F(StoppedRunTest, StoppedWhileReadingItLeavesTheDirectoryAsItWas) {
  const QString fifo = run + "/flight.txt";
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QMap<QString, QByteArray> before = contents();
  // A signal that dumps core must not leave a core file to compare.
  const rlimit noCore{0, 0};
  ASSERT_EQ(setrlimit(RLIMIT_CORE, &noCore), 0);
  // Every signal whose default action ends the process.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL, SIGQUIT, SIGABRT,
                           SIGUSR1, SIGUSR2, SIGALRM, SIGRTMIN + 2}) {
    SCOPED_TRACE(strsignal(signal));
    // The run makes its output folder, which it must take with it; only a
    // SIGKILL can leave it.
    const pid_t pid = start(signal == SIGKILL
                                ? QStringList{"flight.txt"}
                                : QStringList{"--output-dir=made/here", "flight.txt"});
    EXPECT_TRUE(endedBy(stopPartway(*this, fifo, pid, signal), signal));

    QMap<QString, QByteArray> after = contents();
    // Named temporaries, where the build uses them, are left only by
    // SIGKILL, which no process can catch.
    if (!kUnnamedFiles && signal == SIGKILL) {
      for (const QString& name : after.keys()) {
        if (QRegularExpression("^\\.sf......$").match(name).hasMatch()) {
          after.remove(name);
          QFile::remove(run + "/" + name);
        }
      }
    }
    EXPECT_TRUE(after == before) << QStringList(after.keys()).join(' ').toStdString();
  }
}

TEST_F(StoppedRunTest, AStopWhileOutputsArePutInPlaceWaitsForAllFive) {
  writeFile(run + "/flight.txt", flight);
  QMap<QString, QByteArray> expected = completedOutputs();
  expected["flight.txt"] = flight;
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    const pid_t pid = startWithFaults(
        {"flight.txt"},
        {QString("SCANFIT_FAULT_SIGNAL_AT_RENAME=%1").arg(signal)});
    EXPECT_TRUE(endedBy(waitForExit(pid), signal));
    EXPECT_TRUE(contents() == expected);
  }
}

TEST_F(StoppedRunTest, AReadErrorFailsTheRunAndPutsNothingInPlace) {
  writeFile(run + "/flight.txt", flight);
  const QMap<QString, QByteArray> before = contents();
  const pid_t pid = startWithFaults(
      {"flight.txt"}, {"SCANFIT_FAULT_READ_PATH=" + run + "/flight.txt",
                       "SCANFIT_FAULT_READ_AFTER=1000000"});
  const int status = waitForExit(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255);
  EXPECT_EQ(readFile(errorPath),
            "flight.txt open for reading.\n"
            "Cannot read from: flight.txt\nInput/output error\n");
  EXPECT_TRUE(contents() == before);
}

TEST_F(StoppedRunTest, RefusedThreadsLeaveARunThatCompletesOrFailsCleanly) {
  writeFile(run + "/flight.txt", flight);
  const QMap<QString, QByteArray> before = contents();
  QMap<QString, QByteArray> expected = completedOutputs();
  expected["flight.txt"] = flight;
  // No thread at all: the run goes on on its own thread.
  pid_t pid = startWithFaults({"--threads=4", "flight.txt"},
                              {"SCANFIT_FAULT_THREADS_ALLOWED=0"});
  int status = waitForExit(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(contents() == expected);

  // Threads that are there when the run counts them and gone when oneTBB
  // starts its workers: the run ends with the reason, and nothing changes.
  for (const QString& name : kOutputs) QFile::remove(run + "/" + name);
  for (const QString& name : before.keys()) writeFile(run + "/" + name, before[name]);
  pid = startWithFaults({"--threads=4", "flight.txt"},
                        {"SCANFIT_FAULT_THREADS_ALLOWED=3"});
  status = waitForExit(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << status;
  EXPECT_TRUE(readFile(errorPath).endsWith(
      "pthread_create has failed: Resource temporarily unavailable\n"));
  EXPECT_TRUE(contents() == before);
}

// A text line longer than the memory of the process allows fails the run,
// naming the line and the bound: with 160 MiB of address space and one
// thread, four batches are in flight, and a line may hold a quarter of the
// memory shared by four: 160 MiB / 16 = 10485760 bytes. A UTF-16 line
// counts two bytes a character, as it is held.
TEST_F(StoppedRunTest, ALineLongerThanTheMemoryAllowsFailsAndLeavesNothing) {
  if (!kMemoryCanBeLimited) GTEST_SKIP() << "no memory limit under the sanitizer";
  const QByteArray blanks(11 << 20, ' ');
  const struct {
    const char* input;
    QByteArray bytes;
    const char* line;
  } cases[] = {
      {"flight.txt", "1 2 3 4 5 6\n1 2 3 4 5 6\n" + blanks, "3"},
      {"flight.txt", "\xff\xfe" + QByteArray("a\0", 2).repeated(11 << 19), "1"},
      {"/dev/zero", "", "1"},
      // Decompressed, the line grows across the blocks that hold it.
      {"flight.txt.gz", "1 2 3 4 5 6\n1 2 3 4 5 6\n" + blanks, "3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const QString input = QString(c.input).remove(QRegularExpression("\\.gz$"));
    if (!c.bytes.isEmpty()) writeFile(run + "/" + input, c.bytes);
    if (input != c.input) ASSERT_EQ(runShell("gzip -f " + input, run).status, 0);
    const QMap<QString, QByteArray> before = contents();
    const ProcessResult result = runShell(
        QString("ulimit -v 163840; exec '%1' --threads=1 %2").arg(SCANFIT_BINARY, c.input),
        run);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, QFileInfo(c.input).fileName().toUtf8() +
                              " open for reading.\nCannot read from: " + c.input +
                              "\nLine " + c.line + " is longer than 10485760 bytes,"
                              " the bound set by the memory this process may use\n");
    EXPECT_TRUE(contents() == before);
  }
}

// A signal the run was started to ignore stays ignored: under nohup a
// hang-up does not stop the run, which reads what comes and completes.
TEST_F(StoppedRunTest, UnderNohupAHangUpLeavesTheRunGoing) {
  const QString fifo = run + "/flight.txt";
  ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const pid_t pid = startProgram("/usr/bin/nohup", {SCANFIT_BINARY, "flight.txt"},
                                 run, errorPath, {kPreloadOptions});
  const int status = stopPartway(*this, fifo, pid, SIGHUP);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // The outputs of what it was fed, as a run of those bytes gives them.
  const QString fed = dir.filePath("fed");
  QDir().mkpath(fed);
  writeFile(fed + "/flight.txt", flight.left(kFed));
  ASSERT_EQ(runScanfit({"flight.txt"}, fed).status, 0);
  for (const QString& name : kOutputs)
    EXPECT_EQ(readFile(run + "/" + name), readFile(fed + "/" + name)) << name.toStdString();
}

// The k-th link or rename of putting in place fails (the fault shim). No
// output is renamed before all are linked, so a failed link leaves every
// earlier output as it was; a failed rename leaves the outputs before it
// in place and the rest as they were. No temporary stays either way.
TEST_F(StoppedRunTest, AFailedLinkOrRenameIsNamedAndLeavesNoTemporary) {
  writeFile(run + "/flight.txt", flight);
  const QMap<QString, QByteArray> before = contents();
  const QMap<QString, QByteArray> completed = completedOutputs();
  const QStringList order = {"flight_fit.ver", "flight.fit", "flight_fit.scn",
                             "flight_high.scn", "flight_low.scn"};
  const struct {
    const char* fault;
    int k;
  } cases[] = {{"LINK", 3}, {"LINK", 5}, {"RENAME", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(QString("%1 %2").arg(c.fault).arg(c.k).toStdString());
    // Named temporaries need no link.
    if (!kUnnamedFiles && QByteArray(c.fault) == "LINK") continue;
    for (const QString& name : listDir(run)) QFile::remove(run + "/" + name);
    for (auto file = before.begin(); file != before.end(); ++file)
      writeFile(run + "/" + file.key(), file.value());
    const pid_t pid = startWithFaults(
        {"flight.txt"}, {QString("SCANFIT_FAULT_%1_FAILS_AT=%2").arg(c.fault).arg(c.k)});
    const int status = waitForExit(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << status;
    EXPECT_TRUE(readFile(errorPath).endsWith(
        "Cannot write to: " + order[c.k - 1].toUtf8() + "\nInput/output error\n"));
    QMap<QString, QByteArray> expected = before;
    if (QByteArray(c.fault) == "RENAME") {
      for (int j = 0; j < c.k - 1; ++j) expected[order[j]] = completed[order[j]];
    }
    EXPECT_TRUE(contents() == expected);
  }
}

// Runs of two inputs of one name into one folder at once: the first stops
// for a while halfway through putting its outputs in place (the fault
// shim), and the second, which meanwhile ran whole, waits for it. The
// folder ends with one whole set, the last one's.
TEST_F(StoppedRunTest, RunsIntoOneFolderTakeTurnsAtPuttingOutputsInPlace) {
  for (const char* folder : {"A", "B", "cleanB"}) QDir().mkpath(dir.filePath(folder));
  writeFile(dir.filePath("A/flight.txt"), flight);
  ASSERT_EQ(runProgram(GENFLIGHT_BINARY,
                       {"--points", "3000", "--seed", "6", "--output", "B/flight.txt"},
                       dir.path()).status, 0);
  ASSERT_EQ(runScanfit({"../B/flight.txt"}, dir.filePath("cleanB")).status, 0);
  const QString mark = dir.filePath("paused");
  const pid_t first = startWithFaults(
      {"../A/flight.txt"},
      {"SCANFIT_FAULT_RENAME_PAUSE_AT=3", "SCANFIT_FAULT_RENAME_PAUSE_MS=1500",
       "SCANFIT_FAULT_RENAME_PAUSE_MARK=" + mark});
  for (int waited = 0; !QFileInfo::exists(mark) && waited < 60000; waited += 10)
    usleep(10000);
  ASSERT_TRUE(QFileInfo::exists(mark));
  EXPECT_EQ(runScanfit({"../B/flight.txt"}, run).status, 0);
  const int status = waitForExit(first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  QMap<QString, QByteArray> expected;
  for (const QString& name : kOutputs)
    expected[name] = readFile(dir.filePath("cleanB/" + name));
  EXPECT_TRUE(contents() == expected);
}

}  // namespace
