// What the command line asks of a run: the input path, the two options of
// one letter, and the long options.
//
// Options start with "-" or "/" and only their second character counts;
// every other argument names the input, and the last one wins. Long
// options start with "--" (whose second character, "-", the one-letter
// options ignore), take their value as "--name=VALUE" or "--name VALUE",
// and are checked: a misspelt one is an error, never ignored. "--" alone
// ends the options: every argument after it names the input.
//
// Names are bytes, kept as given whatever their encoding: a name that is
// not UTF-8 reaches the file system unchanged.
#ifndef SCANFIT_DRIVER_COMMAND_LINE_H_
#define SCANFIT_DRIVER_COMMAND_LINE_H_

#include <string>
#include <vector>

struct CommandLine {
  std::string inputName;      // empty when only options were given
  bool binaryInput = false;   // option b: binary point file
  bool sevenColumns = false;  // option a: accepted, changes no output
  int threads = 0;            // --threads; 0: every processor there is
  std::string outputDir;      // --output-dir; empty: the current directory
  std::string reportPath;     // --report; empty: none, "-": standard output
  bool help = false;          // --help: print the help, nothing else
  bool version = false;       // --version: print the version, nothing else
  std::string error;          // why the command line cannot be run
};

// The most threads --threads takes.
constexpr int kMostThreads = 1024;

// Replace every argument holding a wildcard (*, ? or [) that matches files
// by the sorted matches; an argument that matches nothing stays as given.
// Names a user marked as literal are never expanded: every argument after
// "--", and long options with their values ("--report=r[1].json" and
// "--report r[1].json" alike).
std::vector<std::string> expandWildcards(const std::vector<std::string>& args);

// True for an option argument. A leading "/" makes an option only when no
// second "/" follows, so that absolute paths stay paths.
bool isOption(const std::string& arg);

// The arguments are taken first to last; --help or --version, or the first
// error, ends the parse.
CommandLine parseCommandLine(const std::vector<std::string>& args);

#endif  // SCANFIT_DRIVER_COMMAND_LINE_H_
