// One output of a run. Its bytes go to a temporary file beside the final
// name, which replaces the final name only when the whole run has
// succeeded: a run that fails leaves the outputs of an earlier run as they
// were and no partial or temporary file behind.
#ifndef SCANFIT_DRIVER_OUTPUT_FILE_H_
#define SCANFIT_DRIVER_OUTPUT_FILE_H_

#include <QSaveFile>
#include <QString>

#include "output/output_buffer.h"

struct OutputFile {
  QSaveFile file;
  OutputBuffer buffer{&file};

  // Each writes "Cannot write to: ", the name and the error text to
  // standard error when it fails, and returns false.
  bool open(const QString& name);
  bool flush();   // every pending byte handed to the temporary file
  bool commit();  // the temporary file renamed to the final name

  bool fail();  // report the file's error, drop the temporary file
};

#endif  // SCANFIT_DRIVER_OUTPUT_FILE_H_
