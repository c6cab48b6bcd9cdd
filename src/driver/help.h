// What scanfit says about itself: the usage line, the help of --help and
// the versions of --version.
#ifndef SCANFIT_DRIVER_HELP_H_
#define SCANFIT_DRIVER_HELP_H_

#include <iosfwd>

// The version of this build (the CMake project's).
const char* scanfitVersion();

void printUsageLine(std::ostream& out);
void printHelp(std::ostream& out);
// scanfit's version, then those of the Qt and oneTBB it runs with.
void printVersion(std::ostream& out);

#endif  // SCANFIT_DRIVER_HELP_H_
