// The run report: a JSON summary of what a run read, found and wrote, for
// scripts that check or collect runs (see the man page for every field).
#ifndef SCANFIT_DRIVER_RUN_REPORT_H_
#define SCANFIT_DRIVER_RUN_REPORT_H_

#include <QByteArray>
#include <QString>

#include <time.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "driver/stream_run.h"

struct ReportedOutput {
  std::string name;
  std::uint64_t bytes = 0;
};

// What the report says besides the run's totals. Names are bytes, as given.
struct RunFacts {
  std::string inputName;  // as given
  std::string inputFile;  // its file name, as in the report line
  std::string inputPath;  // absolute and clean (driver/input_file.h)
  // Of a regular file, when it was opened; a pipe has neither.
  std::optional<std::uint64_t> inputSize;
  std::optional<timespec> inputModified;
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

// A name as the text of a JSON string: valid UTF-8 as it is, and every byte
// that is not part of it as the lone surrogate U+DC00 plus the byte, which
// JSON writes as "\udcXX": Python's json.loads then os.fsencode give back
// the very bytes (its "surrogateescape").
QString jsonName(const std::string& bytes);

// A moment in UTC to the nanosecond, "YYYY-MM-DDTHH:MM:SS.nnnnnnnnnZ"; an
// empty string for a year the C library cannot convert.
QString utcTime(const timespec& time);

#endif  // SCANFIT_DRIVER_RUN_REPORT_H_
