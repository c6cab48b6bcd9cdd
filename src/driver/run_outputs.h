// The outputs of one run: their names, what each resolves to, the output
// folders the run made for them and the files being written.
#ifndef SCANFIT_DRIVER_RUN_OUTPUTS_H_
#define SCANFIT_DRIVER_RUN_OUTPUTS_H_

#include <string>
#include <vector>

#include "driver/command_line.h"
#include "driver/input_file.h"
#include "driver/output_file.h"
#include "driver/stream_run.h"

// Output names, from the input's base name, in the output folder (the
// current directory unless one is given): the per-line files, the point
// files fit, high and low, and the report when it goes to a file.
struct OutputNames {
  std::string folder;  // as given; empty: the current directory
  std::string ver, fit, pointFit, pointHigh, pointLow;
  std::string report;  // empty: none, or standard output

  // The five, then the report when there is one.
  std::vector<const std::string*> all() const;
};

OutputNames outputNamesFor(const CommandLine& line, const std::string& baseName);

// Resolves every name of all() (output_file.h), in that order, before
// anything is created. Two that are one file (but for a character device
// such as /dev/null, which takes any number of outputs), or one that is the
// input, are refused: a message naming both goes to standard error, and
// the result is false.
bool resolveOutputs(const OutputNames& names, const InputFile& input,
                    std::vector<OutputTarget>& targets);

// The output folders a run made, from the outermost in, as far as it made
// them.
struct MadeFolders {
  std::vector<std::string> paths;
  std::vector<int> slots;  // where a stop finds them (stop_signals.h)
  bool keep = false;       // the outputs are in place in them

  // Makes `folder` and the folders above it that are missing; returns 0 or
  // the errno of the step that failed.
  int make(const std::string& folder);
  // Removes them, innermost first, as far as they are empty, unless kept;
  // a stop no longer removes them either way.
  void release();
};

// The files of a run and the folders made for them, which the run owns
// together: whatever way the run ends, the files are dropped before the
// folders, which go only when empty.
struct RunOutputs {
  MadeFolders folders;
  OutputFile ver, fit, pointFit, pointHigh, pointLow, report;
  bool reportFile = false;

  RunOutputs() = default;
  RunOutputs(const RunOutputs&) = delete;
  RunOutputs& operator=(const RunOutputs&) = delete;
  ~RunOutputs();

  // In the order of OutputNames::all().
  std::vector<OutputFile*> all();
  RunSinks sinks();
  // The output whose buffer is `buffer`, or null.
  OutputFile* holding(const OutputBuffer* buffer);
};

#endif  // SCANFIT_DRIVER_RUN_OUTPUTS_H_
