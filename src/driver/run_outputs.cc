#include "driver/run_outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "driver/stop_signals.h"

namespace {

bool isCharacterDevice(const OutputTarget& target) {
  struct stat info {};
  return ::stat(target.path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool isInput(const OutputTarget& target, const InputFile& input) {
  struct stat info {};
  return ::stat(target.path.c_str(), &info) == 0 &&
         info.st_dev == input.status.st_dev && info.st_ino == input.status.st_ino;
}

}  // namespace

std::vector<const std::string*> OutputNames::all() const {
  std::vector<const std::string*> names = {&ver, &fit, &pointFit, &pointHigh,
                                           &pointLow};
  if (!report.empty()) names.push_back(&report);
  return names;
}

OutputNames outputNamesFor(const CommandLine& line, const std::string& baseName) {
  OutputNames names;
  names.folder = line.outputDir;
  const std::string prefix =
      line.outputDir.empty() || line.outputDir.back() == '/'
          ? line.outputDir + baseName
          : line.outputDir + "/" + baseName;
  const bool binary = line.binaryInput;
  names.ver = prefix + "_fit.ver";
  names.fit = prefix + ".fit";
  names.pointFit = prefix + (binary ? "_fit.sbi" : "_fit.scn");
  names.pointHigh = prefix + (binary ? "_high.sbi" : "_high.scn");
  names.pointLow = prefix + (binary ? "_low.sbi" : "_low.scn");
  if (line.reportPath != "-") names.report = line.reportPath;
  return names;
}

bool resolveOutputs(const OutputNames& names, const InputFile& input,
                    std::vector<OutputTarget>& targets) {
  const std::vector<const std::string*> all = names.all();
  targets.clear();
  for (const std::string* name : all) targets.push_back(resolveOutput(*name));
  for (std::size_t k = 0; k < all.size(); ++k) {
    if (!isInput(targets[k], input)) continue;
    std::cerr << "Cannot read from: " << input.name << std::endl
              << "The input is also an output of this run: " << *all[k]
              << std::endl;
    return false;
  }
  for (std::size_t k = 1; k < all.size(); ++k) {
    for (std::size_t j = 0; j < k; ++j) {
      if (!sameFile(targets[j], targets[k]) || isCharacterDevice(targets[k]))
        continue;
      const bool report = all[k] == &names.report;
      std::cerr << "Cannot write to: " << *all[k] << std::endl
                << (report ? "The report is also an output of this run: "
                           : "Another output of this run is the same file: ")
                << *all[j] << std::endl;
      return false;
    }
  }
  return true;
}

int MadeFolders::make(const std::string& folder) {
  for (std::size_t end = 1; end <= folder.size(); ++end) {
    if (end < folder.size() && folder[end] != '/') continue;
    const std::string step = folder.substr(0, end);
    struct stat info {};
    if (::stat(step.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) return ENOTDIR;
      continue;
    }
    if (::mkdir(step.c_str(), 0777) != 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    paths.push_back(step);
    slots.push_back(rememberFolder(step.c_str()));
  }
  return 0;
}

void MadeFolders::release() {
  for (std::size_t k = paths.size(); k-- > 0;) {
    if (!keep) ::rmdir(paths[k].c_str());
    forgetTemporary(slots[k]);
  }
  paths.clear();
  slots.clear();
}

RunOutputs::~RunOutputs() {
  for (OutputFile* file : all()) file->discard();
  folders.release();
}

std::vector<OutputFile*> RunOutputs::all() {
  std::vector<OutputFile*> files = {&ver, &fit, &pointFit, &pointHigh,
                                    &pointLow};
  if (reportFile) files.push_back(&report);
  return files;
}

RunSinks RunOutputs::sinks() {
  return {&ver.buffer, &fit.buffer, &pointFit.buffer, &pointHigh.buffer,
          &pointLow.buffer};
}

OutputFile* RunOutputs::holding(const OutputBuffer* buffer) {
  for (OutputFile* file : all()) {
    if (&file->buffer == buffer) return file;
  }
  return nullptr;
}
