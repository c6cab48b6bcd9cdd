#include "driver/run.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>

#include "driver/command_line.h"
#include "driver/help.h"
#include "driver/input_file.h"
#include "driver/progress.h"
#include "driver/run_outputs.h"
#include "driver/run_report.h"
#include "driver/stop_signals.h"
#include "driver/stream_run.h"
#include "scan/decompress.h"
#include "scan/input_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

void reportCannotRead(const std::string& inputName, const std::string& reason) {
  std::cerr << "Cannot read from: " << inputName << std::endl
            << reason << std::endl;
}

bool makeOutputFolder(const std::string& folder, MadeFolders& made) {
  if (folder.empty()) return true;
  const int error = made.make(folder);
  if (error == 0) return true;
  std::cerr << "Cannot create output folder: " << folder << std::endl
            << std::strerror(error) << std::endl;
  return false;
}

void reportInput(const InputFile& input, bool binaryInput) {
  if (binaryInput) std::cerr << "Binary file: ";
  std::cerr << input.fileName << " open for reading." << std::endl;
}

// The per-line outputs are there before the input is reported, as they
// always were; the point outputs and the report follow.
bool openOutputs(RunOutputs& outputs, const OutputNames& names,
                 const std::vector<OutputTarget>& targets,
                 const InputFile& input, bool binaryInput) {
  outputs.reportFile = !names.report.empty();
  const std::vector<OutputFile*> files = outputs.all();
  const std::vector<const std::string*> named = names.all();
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (!files[k]->open(*named[k], targets[k])) return false;
    if (files[k] == &outputs.fit) reportInput(input, binaryInput);
  }
  return true;
}

double processorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QByteArray runReport(const CommandLine& line, const InputFile& input,
                     const InputReader& reader, RunOutputs& outputs,
                     const RunTotals& totals, Clock::time_point start) {
  RunFacts facts;
  facts.inputName = input.name;
  facts.inputFile = input.fileName;
  facts.inputPath = input.path;
  if (S_ISREG(input.status.st_mode)) {
    facts.inputSize = std::uint64_t(input.status.st_size);
    facts.inputModified = input.status.st_mtim;
  }
  facts.inputBytes = reader.bytesRead;
  facts.compression = compressionName(reader);
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
std::uint64_t progressSize(const InputFile& input) {
  return S_ISREG(input.status.st_mode) ? std::uint64_t(input.status.st_size) : 0;
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

// Answers the command line itself when it asks for no run: an error,
// --help or --version. Returns nothing when there is a run to make.
std::optional<ExitStatus> answerWithoutRun(const CommandLine& line) {
  if (!line.error.empty()) {
    std::cerr << line.error << std::endl
              << "Try 'scanfit --help'." << std::endl;
    return ExitStatus::kFailure;
  }
  if (line.help || line.version) {
    errno = 0;
    if (line.help) printHelp(std::cout);
    else printVersion(std::cout);
    return wroteStandardOutput() ? ExitStatus::kSuccess : ExitStatus::kFailure;
  }
  return std::nullopt;
}

// Why a streamed run failed, on standard error; true when it did not.
bool streamedWhole(const StreamResult& result, const InputFile& input,
                   const InputReader& reader, const RunTotals& totals,
                   RunOutputs& outputs) {
  switch (result.end) {
    case StreamEnd::kWhole:
      return true;
    case StreamEnd::kWriteFailed:
      outputs.holding(result.failedOutput)
          ->fail(std::strerror(result.failedOutput->writeError));
      return false;
    case StreamEnd::kReadFailed:
      reportCannotRead(input.name, readFailure(reader));
      return false;
    case StreamEnd::kLineTooLong:
      reportCannotRead(input.name,
                       "Line " + std::to_string(totals.textLines + 1) +
                           " is longer than " +
                           std::to_string(reader.longestLine) +
                           " bytes, the bound set by the memory this process may use");
      return false;
  }
  return false;
}

// The run proper, once the input is open: outputs made, input streamed
// into them, and all put in place.
ExitStatus runOn(const CommandLine& line, const InputFile& input,
                 InputReader& reader, Clock::time_point start) {
  const OutputNames names = outputNamesFor(line, input.baseName);
  std::vector<OutputTarget> targets;
  if (!resolveOutputs(names, input, targets)) return ExitStatus::kFailure;

  installStopHandlers();
  RunOutputs outputs;
  if (!makeOutputFolder(line.outputDir, outputs.folders) ||
      !openOutputs(outputs, names, targets, input, line.binaryInput))
    return ExitStatus::kFailure;
  Progress progress(std::cerr, STDERR_FILENO, progressSize(input));
  // After the status line is set up: on a pipe, the first read may wait.
  detectCompression(reader);
  RunTotals totals;
  StreamResult streamed;
  try {
    streamed = streamRun(reader, outputs.sinks(), std::cerr, line.threads,
                         &progress, totals);
  } catch (const std::bad_alloc&) {
    reportCannotRead(input.name, "Out of memory");
    return ExitStatus::kFailure;
  }
  if (!streamedWhole(streamed, input, reader, totals, outputs))
    return ExitStatus::kFailure;
  QByteArray report;
  if (!line.reportPath.empty()) {
    report = runReport(line, input, reader, outputs, totals, start);
    if (outputs.reportFile)
      outputs.report.buffer.append(report.constData(), size_t(report.size()));
  }
  // A failed write is reported by the output it failed on; outputs not
  // put in place are removed.
  const std::vector<OutputFile*> all = outputs.all();
  if (!putInPlace(all.data(), all.size(), names.folder))
    return ExitStatus::kFailure;
  outputs.folders.keep = true;
  // The report describes outputs in place; writing it cannot undo them.
  if (line.reportPath == "-") {
    errno = 0;
    std::cout << report.constData();
    if (!wroteStandardOutput()) return ExitStatus::kFailure;
  }
  return ExitStatus::kSuccess;
}

}  // namespace

ExitStatus runScanfit(const std::vector<std::string>& args) {
  const Clock::time_point start = Clock::now();
  if (args.empty()) {
    printUsageLine(std::cerr);
    return ExitStatus::kFailure;
  }
  const CommandLine line = parseCommandLine(expandWildcards(args));
  if (const std::optional<ExitStatus> answered = answerWithoutRun(line))
    return *answered;
  InputReader reader;
  InputFile input;
  std::string reason;
  if (!openInput(line.inputName, line.binaryInput, reader, input, reason)) {
    reportCannotRead(line.inputName, reason);
    return ExitStatus::kFailure;
  }
  return runOn(line, input, reader, start);
}
