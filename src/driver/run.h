// The run sequence of scanfit: one input file in, five output files out,
// every phase in a fixed order.
#ifndef SCANFIT_DRIVER_RUN_H_
#define SCANFIT_DRIVER_RUN_H_

#include <string>
#include <vector>

// Run on the arguments after the program name; returns the exit status
// (0, or -1 for no arguments and every failure).
int runScanfit(const std::vector<std::string>& args);

#endif  // SCANFIT_DRIVER_RUN_H_
