#include "driver/help.h"

#include <QtGlobal>

#include <oneapi/tbb/version.h>

#include <ostream>

namespace {

const char kHelp[] =
    "Usage: scanfit [OPTION]... [-b] INPUT\n"
    "Fits the scan lines of an airborne laser-scanner point file and splits\n"
    "its points by their residual against the fit.\n"
    "\n"
    "  -b, /b             INPUT is a binary point file of 18-byte records\n"
    "  -a, /a             accepted; the first line decides the text form\n"
    "  --output-dir=DIR   write the outputs into DIR, made when missing,\n"
    "                       instead of the current directory\n"
    "  --report=FILE      write a JSON summary of the run to FILE, put in\n"
    "                       place with the outputs; - for standard output\n"
    "  --threads=N        use at most N threads (default: one per processor)\n"
    "  --help             show this help and exit\n"
    "  --version          show the versions and exit\n"
    "  --                 end of options: what follows is INPUT\n"
    "\n"
    "A long option's value may also be the next argument: --threads 4.\n"
    "Options of one letter start with - or /; only their second character\n"
    "counts. Of several inputs named, the last is read. Arguments holding\n"
    "*, ? or [ are expanded to the files they match, but for names after --\n"
    "and the values of long options, which are taken as written.\n"
    "\n"
    "Outputs, named after NAME, INPUT's file name up to its first '.':\n"
    "  NAME_fit.ver       one row per nadir record\n"
    "  NAME.fit           one row per fitted scan line\n"
    "  NAME_fit.scn       points from 50 below to 5 above their line's fit\n"
    "  NAME_high.scn      points more than 5 above it\n"
    "  NAME_low.scn       points more than 50 below it\n"
    "With -b the point files are NAME_fit.sbi, NAME_high.sbi and\n"
    "NAME_low.sbi, in the input's record format. All five are put in place\n"
    "together, and only when the whole run succeeds.\n"
    "\n"
    "Exit status: 0 when the run completed; 255 without arguments, or when\n"
    "the command line, the input (a text line longer than memory allows\n"
    "too), memory or an output fails; a run stopped by a signal ends by\n"
    "that signal.\n"
    "\n"
    "The method and the columns of every output: man scanfit\n";

}  // namespace

const char* scanfitVersion() { return SCANFIT_VERSION; }

void printUsageLine(std::ostream& out) {
  out << "Usage: scanfit [-a] [-b] [ASCII scanner file]" << std::endl;
}

void printHelp(std::ostream& out) { out << kHelp << std::flush; }

void printVersion(std::ostream& out) {
  out << "scanfit " << scanfitVersion() << "\n"
      << "Qt " << qVersion() << "\n"
      << "oneTBB " << TBB_runtime_version() << std::endl;
}
