#include "driver/run.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>

#include <array>
#include <cstring>
#include <iostream>
#include <new>

#include "driver/command_line.h"
#include "driver/output_file.h"
#include "driver/stop_signals.h"
#include "driver/stream_run.h"
#include "scan/input_reader.h"

namespace {

// Output names, all in the current directory, from the input's base name:
// the per-line files, then the point files fit, high and low.
struct OutputNames {
  QString ver, fit, pointFit, pointHigh, pointLow;

  std::array<const QString*, 5> all() const {
    return {&ver, &fit, &pointFit, &pointHigh, &pointLow};
  }
};

OutputNames outputNamesFor(const QString& baseName, bool binaryInput) {
  OutputNames names;
  names.ver = QString("%1_fit.ver").arg(baseName);
  names.fit = QString("%1.fit").arg(baseName);
  names.pointFit = QString(binaryInput ? "%1_fit.sbi" : "%1_fit.scn").arg(baseName);
  names.pointHigh = QString(binaryInput ? "%1_high.sbi" : "%1_high.scn").arg(baseName);
  names.pointLow = QString(binaryInput ? "%1_low.sbi" : "%1_low.scn").arg(baseName);
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

void reportInput(const QFileInfo& inputInfo, bool binaryInput) {
  if (binaryInput) std::cerr << "Binary file: ";
  std::cerr << QFile::encodeName(inputInfo.fileName()).constData()
            << " open for reading." << std::endl;
}

// The outputs, in the order of the names: the per-line ones, then the
// point files fit, high and low.
struct RunOutputs {
  OutputFile ver, fit, pointFit, pointHigh, pointLow;

  std::array<OutputFile*, 5> all() {
    return {&ver, &fit, &pointFit, &pointHigh, &pointLow};
  }
  RunSinks sinks() {
    return {&ver.buffer, &fit.buffer, &pointFit.buffer, &pointHigh.buffer,
            &pointLow.buffer};
  }
};

// The per-line outputs are there before the input is reported, as they
// always were; the point outputs follow.
bool openOutputs(RunOutputs& outputs, const OutputNames& names,
                 const QFileInfo& inputInfo, bool binaryInput) {
  if (!outputs.ver.open(names.ver) || !outputs.fit.open(names.fit))
    return false;
  reportInput(inputInfo, binaryInput);
  return outputs.pointFit.open(names.pointFit) &&
         outputs.pointHigh.open(names.pointHigh) &&
         outputs.pointLow.open(names.pointLow);
}

}  // namespace

int runScanfit(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cerr << "Usage: scanfit [-a] [-b] [ASCII scanner file]" << std::endl;
    return -1;
  }
  const CommandLine commandLine = parseCommandLine(expandWildcards(args));
  if (!commandLine.error.empty()) {
    std::cerr << commandLine.error << std::endl;
    return -1;
  }
  const QFileInfo inputInfo(commandLine.inputName);
  const bool binaryInput = commandLine.binaryInput;

  InputReader reader;
  openInputOrExit(reader, commandLine.inputName, binaryInput);
  const OutputNames names = outputNamesFor(inputInfo.baseName(), binaryInput);
  if (refuseOwnOutput(commandLine.inputName, reader.file, names)) return -1;

  installStopHandlers();
  RunOutputs outputs;
  if (!openOutputs(outputs, names, inputInfo, binaryInput)) return -1;
  RunTotals totals;
  try {
    streamRun(reader, outputs.sinks(), std::cerr, commandLine.threads, totals);
  } catch (const std::bad_alloc&) {
    reportCannotRead(commandLine.inputName, "Out of memory");
    return -1;
  }
  if (reader.readError != 0) {
    reportCannotRead(commandLine.inputName, std::strerror(reader.readError));
    return -1;
  }
  // A failed write is reported by the output it failed on; outputs not
  // put in place are removed.
  const std::array<OutputFile*, 5> all = outputs.all();
  return putInPlace(all.data(), all.size()) ? 0 : -1;
}
