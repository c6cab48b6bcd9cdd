#include "driver/run.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <new>
#include <vector>

#include "driver/command_line.h"
#include "driver/help.h"
#include "driver/output_file.h"
#include "driver/progress.h"
#include "driver/run_report.h"
#include "driver/stop_signals.h"
#include "driver/stream_run.h"
#include "scan/input_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

// Output names, from the input's base name, in the output folder (the
// current directory unless one is given): the per-line files, the point
// files fit, high and low, and the report when it goes to a file.
struct OutputNames {
  QString ver, fit, pointFit, pointHigh, pointLow, report;

  std::vector<const QString*> all() const {
    std::vector<const QString*> names = {&ver, &fit, &pointFit, &pointHigh,
                                         &pointLow};
    if (!report.isEmpty()) names.push_back(&report);
    return names;
  }
};

OutputNames outputNamesFor(const CommandLine& line, const QString& baseName) {
  const QString folder = line.outputDir.isEmpty() || line.outputDir.endsWith('/')
                             ? line.outputDir
                             : line.outputDir + '/';
  const auto named = [&](const char* pattern) {
    return folder + QString(pattern).arg(baseName);
  };
  const bool binary = line.binaryInput;
  OutputNames names;
  names.ver = named("%1_fit.ver");
  names.fit = named("%1.fit");
  names.pointFit = named(binary ? "%1_fit.sbi" : "%1_fit.scn");
  names.pointHigh = named(binary ? "%1_high.sbi" : "%1_high.scn");
  names.pointLow = named(binary ? "%1_low.sbi" : "%1_low.scn");
  if (line.reportPath != "-") names.report = line.reportPath;
  return names;
}

void reportCannotRead(const QString& inputName, const char* reason) {
  std::cerr << "Cannot read from: " << QFile::encodeName(inputName).constData()
            << std::endl
            << reason << std::endl;
}

// The output name that is the very file the input was opened from (same
// device and inode, so links count too), or an empty string.
QString outputThatIsInput(const QFile& input, const OutputNames& names) {
  struct stat in {};
  if (fstat(input.handle(), &in) != 0) return QString();
  for (const QString* name : names.all()) {
    struct stat out {};
    if (stat(QFile::encodeName(*name).constData(), &out) == 0 &&
        out.st_dev == in.st_dev && out.st_ino == in.st_ino)
      return *name;
  }
  return QString();
}

bool refuseOwnOutput(const QString& inputName, const QFile& input,
                     const OutputNames& names) {
  const QString clash = outputThatIsInput(input, names);
  if (clash.isEmpty()) return false;
  const QByteArray reason = "The input is also an output of this run: " +
                            QFile::encodeName(clash);
  reportCannotRead(inputName, reason.constData());
  return true;
}

bool sameFile(const QString& a, const QString& b) {
  struct stat first {}, second {};
  if (stat(QFile::encodeName(a).constData(), &first) == 0 &&
      stat(QFile::encodeName(b).constData(), &second) == 0)
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  // Not there yet: the same name once made absolute and clean.
  return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
         QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// A report named like one of the outputs would take its place.
bool refuseReportOverOutput(const OutputNames& names) {
  if (names.report.isEmpty()) return false;
  for (const QString* name : names.all()) {
    if (name == &names.report || !sameFile(*name, names.report)) continue;
    std::cerr << "Cannot write to: "
              << QFile::encodeName(names.report).constData() << std::endl
              << "The report is also an output of this run: "
              << QFile::encodeName(*name).constData() << std::endl;
    return true;
  }
  return false;
}

// The output folders a run made. A run that puts nothing in place removes
// them again, as far as they are still empty; a stop does the same
// (stop_signals.h).
struct MadeFolders {
  std::vector<QByteArray> paths;  // from the outermost in
  std::vector<int> slots;
  bool keep = false;

  MadeFolders() = default;
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;
  ~MadeFolders() {
    for (std::size_t k = paths.size(); k-- > 0;) {
      if (!keep) ::rmdir(paths[k].constData());
      forgetTemporary(slots[k]);
    }
  }
};

// Makes `folder` and the folders above it that are missing; returns 0 or
// the errno of the step that failed.
int makeFolders(const QByteArray& folder, MadeFolders& made) {
  for (qsizetype end = 1; end <= folder.size(); ++end) {
    if (end < folder.size() && folder[end] != '/') continue;
    const QByteArray step = folder.left(end);
    struct stat info {};
    if (::stat(step.constData(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return ENOTDIR;
      continue;
    }
    if (::mkdir(step.constData(), 0777) != 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    made.paths.push_back(step);
    made.slots.push_back(rememberFolder(step.constData()));
  }
  return 0;
}

bool makeOutputFolder(const QString& folder, MadeFolders& made) {
  if (folder.isEmpty()) return true;
  const int error = makeFolders(QFile::encodeName(folder), made);
  if (error == 0) return true;
  std::cerr << "Cannot create output folder: "
            << QFile::encodeName(folder).constData() << std::endl
            << std::strerror(error) << std::endl;
  return false;
}

void reportInput(const QFileInfo& inputInfo, bool binaryInput) {
  if (binaryInput) std::cerr << "Binary file: ";
  std::cerr << QFile::encodeName(inputInfo.fileName()).constData()
            << " open for reading." << std::endl;
}

// The outputs, in the order of the names.
struct RunOutputs {
  OutputFile ver, fit, pointFit, pointHigh, pointLow, report;
  bool reportFile = false;

  std::vector<OutputFile*> all() {
    std::vector<OutputFile*> files = {&ver, &fit, &pointFit, &pointHigh,
                                      &pointLow};
    if (reportFile) files.push_back(&report);
    return files;
  }
  RunSinks sinks() {
    return {&ver.buffer, &fit.buffer, &pointFit.buffer, &pointHigh.buffer,
            &pointLow.buffer};
  }
};

// The per-line outputs are there before the input is reported, as they
// always were; the point outputs and the report follow.
bool openOutputs(RunOutputs& outputs, const OutputNames& names,
                 const QFileInfo& inputInfo, bool binaryInput) {
  if (!outputs.ver.open(names.ver) || !outputs.fit.open(names.fit))
    return false;
  reportInput(inputInfo, binaryInput);
  outputs.reportFile = !names.report.isEmpty();
  return outputs.pointFit.open(names.pointFit) &&
         outputs.pointHigh.open(names.pointHigh) &&
         outputs.pointLow.open(names.pointLow) &&
         (!outputs.reportFile || outputs.report.open(names.report));
}

double processorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QByteArray runReport(const CommandLine& line, const QFileInfo& inputInfo,
                     const InputReader& reader, RunOutputs& outputs,
                     const RunTotals& totals, Clock::time_point start) {
  RunFacts facts;
  facts.inputName = line.inputName;
  facts.inputFile = inputInfo.fileName();
  facts.inputBytes = reader.bytesRead;
  facts.form = line.binaryInput ? "binary"
               : reader.form == 7 ? "seven-column"
                                  : "six-column";
  for (OutputFile* output : outputs.all()) {
    if (output != &outputs.report)
      facts.outputs.push_back({output->name, output->buffer.bytes});
  }
  facts.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  facts.processorSeconds = processorSeconds();
  return reportJson(facts, totals);
}

// The size of a regular file, for the progress line; 0 for a pipe.
std::uint64_t inputSize(const InputReader& reader) {
  struct stat info {};
  if (fstat(reader.file.handle(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  return std::uint64_t(info.st_size);
}

// What was written to standard output since errno was last cleared
// reached it: true, or a message on standard error and false (a full
// disk, a closed descriptor).
bool wroteStandardOutput() {
  std::cout.flush();
  if (std::cout.good()) return true;
  std::cerr << "Cannot write to: standard output" << std::endl
            << std::strerror(errno != 0 ? errno : EIO) << std::endl;
  return false;
}

// Answers the command line itself when it asks for no run: the usage line,
// an error, --help or --version. Returns the exit status then, else 1.
int answerWithoutRun(const CommandLine& line) {
  if (!line.error.empty()) {
    std::cerr << line.error << std::endl
              << "Try 'scanfit --help'." << std::endl;
    return -1;
  }
  if (line.help || line.version) {
    errno = 0;
    if (line.help) printHelp(std::cout);
    else printVersion(std::cout);
    return wroteStandardOutput() ? 0 : -1;
  }
  return 1;
}

// Why a streamed run failed, on standard error; true when it did not.
bool streamedWhole(const StreamResult& result, const QString& inputName,
                   const InputReader& reader, const RunTotals& totals,
                   RunOutputs& outputs) {
  switch (result.end) {
    case StreamEnd::kWhole:
      return true;
    case StreamEnd::kWriteFailed:
      for (OutputFile* output : outputs.all()) {
        if (&output->buffer == result.failedOutput)
          output->fail(std::strerror(result.failedOutput->writeError));
      }
      return false;
    case StreamEnd::kReadFailed:
      reportCannotRead(inputName, std::strerror(reader.readError));
      return false;
    case StreamEnd::kLineTooLong: {
      const std::string reason =
          "Line " + std::to_string(totals.textLines + 1) + " is longer than " +
          std::to_string(reader.longestLine) +
          " bytes, the bound set by the memory this process may use";
      reportCannotRead(inputName, reason.c_str());
      return false;
    }
  }
  return false;
}

}  // namespace

int runScanfit(const std::vector<std::string>& args) {
  const Clock::time_point start = Clock::now();
  if (args.empty()) {
    printUsageLine(std::cerr);
    return -1;
  }
  const CommandLine line = parseCommandLine(expandWildcards(args));
  const int answered = answerWithoutRun(line);
  if (answered != 1) return answered;
  const QFileInfo inputInfo(line.inputName);

  InputReader reader;
  openInputOrExit(reader, line.inputName, line.binaryInput);
  const OutputNames names = outputNamesFor(line, inputInfo.baseName());
  if (refuseOwnOutput(line.inputName, reader.file, names)) return -1;
  if (refuseReportOverOutput(names)) return -1;

  installStopHandlers();
  MadeFolders madeFolders;
  if (!makeOutputFolder(line.outputDir, madeFolders)) return -1;
  RunOutputs outputs;
  if (!openOutputs(outputs, names, inputInfo, line.binaryInput)) return -1;
  Progress progress(std::cerr, STDERR_FILENO, inputSize(reader));
  RunTotals totals;
  StreamResult streamed;
  try {
    streamed = streamRun(reader, outputs.sinks(), std::cerr, line.threads,
                         &progress, totals);
  } catch (const std::bad_alloc&) {
    reportCannotRead(line.inputName, "Out of memory");
    return -1;
  }
  if (!streamedWhole(streamed, line.inputName, reader, totals, outputs))
    return -1;
  QByteArray report;
  if (!line.reportPath.isEmpty()) {
    report = runReport(line, inputInfo, reader, outputs, totals, start);
    if (outputs.reportFile)
      outputs.report.buffer.append(report.constData(), size_t(report.size()));
  }
  // A failed write is reported by the output it failed on; outputs not
  // put in place are removed.
  const std::vector<OutputFile*> all = outputs.all();
  if (!putInPlace(all.data(), all.size())) return -1;
  madeFolders.keep = true;
  // The report describes outputs in place; writing it cannot undo them.
  if (line.reportPath == "-") {
    errno = 0;
    std::cout << report.constData();
    if (!wroteStandardOutput()) return -1;
  }
  return 0;
}
