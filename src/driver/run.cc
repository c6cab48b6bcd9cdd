#include "driver/run.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <sys/stat.h>

#include <array>
#include <iostream>

#include "driver/command_line.h"
#include "driver/output_file.h"
#include "output/line_outputs.h"
#include "output/point_outputs.h"
#include "scan/input_open.h"
#include "scan/scan_data.h"

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
  std::cerr << "Cannot read from: " << QFile::encodeName(inputName).constData()
            << std::endl
            << "The input is also an output of this run: "
            << QFile::encodeName(clash).constData() << std::endl;
  return true;
}

void reportInput(const QFileInfo& inputInfo, bool binaryInput) {
  if (binaryInput) std::cerr << "Binary file: ";
  std::cerr << QFile::encodeName(inputInfo.fileName()).constData()
            << " open for reading." << std::endl;
}

bool writePointFiles(const ScanData& data, const OutputNames& names,
                     bool binaryInput, OutputFile& fit, OutputFile& high,
                     OutputFile& low) {
  if (!fit.open(names.pointFit) || !high.open(names.pointHigh) ||
      !low.open(names.pointLow))
    return false;
  if (binaryInput)
    writeBinaryPoints(data, fit.buffer, high.buffer, low.buffer);
  else
    writeTextPoints(data, fit.buffer, high.buffer, low.buffer);
  return fit.flush() && high.flush() && low.flush();
}

}  // namespace

int runScanfit(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cerr << "Usage: scanfit [-a] [-b] [ASCII scanner file]" << std::endl;
    return -1;
  }
  const CommandLine commandLine = parseCommandLine(expandWildcards(args));
  const QFileInfo inputInfo(commandLine.inputName);
  const bool binaryInput = commandLine.binaryInput;

  ScanData data;
  data.sevenColumns = commandLine.sevenColumns;
  if (binaryInput)
    data.openBinary(commandLine.inputName);
  else
    data.openAscii(commandLine.inputName);

  const OutputNames names = outputNamesFor(inputInfo.baseName(), binaryInput);
  if (refuseOwnOutput(commandLine.inputName, data.file, names)) return -1;

  OutputFile ver, fit;
  if (!ver.open(names.ver) || !fit.open(names.fit)) return -1;
  reportInput(inputInfo, binaryInput);

  const int points = binaryInput ? data.readBinary() : data.readAscii(std::cerr);
  if (points < 0) {
    reportTooManyPoints(commandLine.inputName);
    return -1;
  }
  data.fitScanLines();

  writeVerFile(ver.buffer, data);
  writeFitFile(fit.buffer, data);
  if (!ver.flush() || !fit.flush()) return -1;

  OutputFile pointFit, pointHigh, pointLow;
  if (!writePointFiles(data, names, binaryInput, pointFit, pointHigh, pointLow))
    return -1;
  for (OutputFile* output : {&ver, &fit, &pointFit, &pointHigh, &pointLow}) {
    if (!output->commit()) return -1;
  }
  return 0;
}
