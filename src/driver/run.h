// The run sequence of scanfit: one input file in, five output files out,
// every phase in a fixed order.
#ifndef SCANFIT_DRIVER_RUN_H_
#define SCANFIT_DRIVER_RUN_H_

#include <string>
#include <vector>

#include "driver/exit_status.h"

// Run on the arguments after the program name.
ExitStatus runScanfit(const std::vector<std::string>& args);

#endif  // SCANFIT_DRIVER_RUN_H_
