// One output of a run, written where no one sees it and put in place only
// when the whole run has succeeded, together with the run's other outputs:
// a run that fails or is stopped leaves the outputs of an earlier run as
// they were, never a mix of two runs, and nothing of its own.
//
// The bytes go to an unnamed file in the final name's directory (open with
// O_TMPFILE), which the kernel frees however the process ends. Putting in
// place links it under a short hidden name and renames that over the final
// name. Where the file system has no unnamed files, a named temporary with
// a short hidden name takes its place, removed on a stop (stop_signals.h).
// Either way no temporary name is longer than a few characters, so any
// output name that fits the file system works. A name that leads to a
// device, a FIFO or an open file of the process is written directly, as a
// stream.
//
// Nothing is synced to disk: the outputs can always be made again from the
// input, and a sync per file cost a quarter of a large run's time.
#ifndef SCANFIT_DRIVER_OUTPUT_FILE_H_
#define SCANFIT_DRIVER_OUTPUT_FILE_H_

#include <cstddef>
#include <string>

#include "output/output_buffer.h"

// A build setting for the tests: named temporaries everywhere, as on a
// file system without unnamed files.
#ifdef SCANFIT_NAMED_TEMPORARIES
constexpr bool kUnnamedFiles = false;
#else
constexpr bool kUnnamedFiles = true;
#endif

// What an output name stands for. Symbolic links are followed to the file
// they lead to, which is then written: the link is kept, and a link to a
// file not there yet makes that file. A name that leads to a device, a
// FIFO or an open file of a process (/dev/stdout goes to /proc) is a
// stream, written as the run goes and never replaced.
struct OutputTarget {
  std::string path;  // absolute, every link followed
  bool stream = false;
};

// Resolves `name` as the file system stands now; folders that are not there
// yet are taken as written.
OutputTarget resolveOutput(const std::string& name);

// Whether two targets are one file: the same path, or the same existing
// file by another path (a hard link, a mount seen twice).
bool sameFile(const OutputTarget& a, const OutputTarget& b);

struct OutputFile {
  std::string name;      // the final name, as given and reported
  OutputTarget target;   // what it stands for
  // The named temporary, or the hidden name an unnamed file is linked under
  // while it is put in place; empty when there is none.
  std::string tempPath;
  int tempSlot = -1;     // where a stop finds tempPath
  bool unnamed = false;  // an O_TMPFILE file, linked only when put in place
  OutputBuffer buffer;   // its fd is open on the file being written, or -1

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Not put in place, it leaves nothing behind: an early return on
  // another output's failure removes it.
  ~OutputFile() { discard(); }

  // Each writes "Cannot write to: ", the name and the error text to
  // standard error when it fails, drops the file and returns false.
  bool open(const std::string& finalName, const OutputTarget& resolved);
  bool open(const std::string& finalName) {
    return open(finalName, resolveOutput(finalName));
  }
  bool flush();           // every pending byte handed to the file
  bool startWriteBack();  // see putInPlace
  // The two halves of putting in place (see putInPlace).
  bool link();   // a hidden name for an unnamed file; the file closed
  bool place();  // the hidden name renamed over the final name

  bool fail(const char* reason);  // report `reason`, drop the file
  void discard();                 // close and remove the file
};

// Flushes every output and starts the write-back of those that replace a
// file, then, holding a lock on `folder` (the folder the outputs are named
// in; empty: the current directory) and the files they replace, links and
// renames them all back to back, a stop deferred meanwhile
// (stop_signals.h): putting a large run's outputs in place over earlier
// ones takes microseconds, not the tenths of a second that freeing and
// writing back files within rename(2) would take. Runs into one folder
// so take turns: each run's set goes in whole, the last one wins. On a
// failure it is reported, and nothing is put in place unless the renaming
// itself fails midway.
bool putInPlace(OutputFile* const* outputs, std::size_t count,
                const std::string& folder);

#endif  // SCANFIT_DRIVER_OUTPUT_FILE_H_
