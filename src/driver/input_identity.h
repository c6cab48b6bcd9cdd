// What tells one input file from another, for the report: a campaign takes
// a run as done only when its report names the very input it would read
// now, by absolute path, size and modification time.
#ifndef SCANFIT_DRIVER_INPUT_IDENTITY_H_
#define SCANFIT_DRIVER_INPUT_IDENTITY_H_

#include <QByteArray>

#include <cstdint>

struct InputIdentity {
  QByteArray path;      // absolute, lexically normal
  bool regular = false; // size and modified are known only for a file
  std::int64_t size = 0;
  QByteArray modified;  // UTC, "YYYY-MM-DDTHH:MM:SS.nnnnnnnnnZ"
};

// `name` made absolute against the current directory and normalised
// without looking at the file system: repeated slashes, "." and "x/.."
// go, as a path a shell user would write by hand ("//" at the start stays,
// as POSIX leaves its meaning open).
QByteArray absoluteNormalPath(const QByteArray& name);

// The identity of the input open on `fd` under `name`.
InputIdentity identifyInput(int fd, const QByteArray& name);

#endif  // SCANFIT_DRIVER_INPUT_IDENTITY_H_
