// One output of a run. Its bytes go to a temporary file beside the final
// name, which replaces the final name by a rename only when the whole run
// has succeeded: a run that fails leaves the outputs of an earlier run as
// they were and no partial or temporary file behind. Nothing is synced to
// disk: the outputs can always be made again from the input, and a sync
// per file cost a quarter of a large run's time.
#ifndef SCANFIT_DRIVER_OUTPUT_FILE_H_
#define SCANFIT_DRIVER_OUTPUT_FILE_H_

#include <QString>

#include <string>

#include "output/output_buffer.h"

struct OutputFile {
  QString name;          // the final name, as reported
  std::string finalPath; // what the final name stands for (links followed)
  std::string tempPath;  // the temporary file; empty when there is none
  int fd = -1;           // open on the temporary file
  OutputBuffer buffer;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Without a commit the temporary file goes: an early return on another
  // output's failure leaves nothing behind.
  ~OutputFile() { discard(); }

  // Each writes "Cannot write to: ", the name and the error text to
  // standard error when it fails, drops the temporary file and returns
  // false.
  bool open(const QString& finalName);
  bool flush();   // every pending byte handed to the temporary file
  bool commit();  // the temporary file closed and renamed to the final name

  bool fail(const char* reason);  // report `reason`, drop the temporary
  void discard();                 // close and remove the temporary file
};

#endif  // SCANFIT_DRIVER_OUTPUT_FILE_H_
