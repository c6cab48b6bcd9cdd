// Opening the input file, shared by the text and binary readers: the
// message and exit status of an input that cannot be opened are the same.
#ifndef SCANFIT_SCAN_INPUT_OPEN_H_
#define SCANFIT_SCAN_INPUT_OPEN_H_

#include <QFile>
#include <QString>

// Open `file` read-only under `name`. On failure write "Cannot read from: ",
// the name, and QFile's error text, each line to standard error, and end
// the process with status -1.
void openInputOrExit(QFile& file, const QString& name);

// Points are indexed by int: an input with more points, or text lines, than
// an int can count is refused. Writes "Cannot read from: ", the name, and
// the reason to standard error.
constexpr qint64 kMaxInputPoints = 2147483647;
void reportTooManyPoints(const QString& name);

// Size of the opened input in bytes, or 0 for a pipe or other stream.
qint64 inputSizeHint(const QFile& file);

#endif  // SCANFIT_SCAN_INPUT_OPEN_H_
