// The input of a run, opened by its name byte for byte, and what the run's
// messages and report say of it.
#ifndef SCANFIT_DRIVER_INPUT_FILE_H_
#define SCANFIT_DRIVER_INPUT_FILE_H_

#include <sys/stat.h>

#include <string>

#include "scan/input_reader.h"

struct InputFile {
  std::string name;      // as given
  std::string fileName;  // its last component, as the report line names it
  std::string baseName;  // the file name up to its first '.': the outputs'
  std::string path;      // absolute and lexically clean, links not followed
  struct stat status {};  // from the open file, when it was opened
};

// Opens `name` for `reader`, unbuffered (the reader fetches whole blocks
// itself), and fills `input`. On failure returns false and the reason, as
// the message's second line.
bool openInput(const std::string& name, bool binary, InputReader& reader,
               InputFile& input, std::string& reason);

// `name` made absolute against the current directory and cleaned as
// Python's os.path.normpath cleans it: repeated slashes, "." and "x/.."
// dropped, no symbolic link followed (so "link/.." may name another
// folder than the link's parent). Campaign tools compare it with
// os.path.abspath of the name they ran.
std::string absolutePath(const std::string& name);

#endif  // SCANFIT_DRIVER_INPUT_FILE_H_
