// The run report: a JSON summary of what a run read, found and wrote, for
// scripts that check or collect runs (see the man page for every field).
#ifndef SCANFIT_DRIVER_RUN_REPORT_H_
#define SCANFIT_DRIVER_RUN_REPORT_H_

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <limits>
#include <vector>

#include "driver/input_identity.h"
#include "driver/stream_run.h"

struct ReportedOutput {
  QString name;
  std::uint64_t bytes = 0;
};

// What the report says besides the run's totals.
struct RunFacts {
  QString inputName;    // as given
  QString inputFile;    // its file name, as in the report line
  InputIdentity input;  // its absolute path, size and modification time
  std::uint64_t inputBytes = 0;
  QString form;         // "six-column", "seven-column" or "binary"
  QString compression;  // "none", "gzip", "zstd", "xz" or "bzip2"
  std::vector<ReportedOutput> outputs;
  double wallSeconds = 0;
  double processorSeconds = 0;
};

// Quartiles by nearest rank: the values at ranks ceil(n/4), ceil(n/2) and
// ceil(3n/4) of the sorted values, so each is the sigma of some line.
struct SigmaSummary {
  std::int64_t count = 0;        // lines with a sigma that is a number
  std::int64_t notANumber = 0;
  static constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
  float min = kNone, q1 = kNone, median = kNone, q3 = kNone, max = kNone;
};
SigmaSummary summariseSigma(std::vector<float> sigmas);

QByteArray reportJson(const RunFacts& facts, const RunTotals& totals);

#endif  // SCANFIT_DRIVER_RUN_REPORT_H_
