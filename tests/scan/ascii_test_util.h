// Helpers of the ASCII reader tests: files in a temporary folder, reads
// through ScanData, and a bitwise comparison of two reads.
#ifndef SCANFIT_TESTS_SCAN_ASCII_TEST_UTIL_H_
#define SCANFIT_TESTS_SCAN_ASCII_TEST_UTIL_H_

#include "scan/qt_reference_reader.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstddef>

// Writes `bytes` to `name` in `dir` and returns the file's path.
QString writeTestFile(const QTemporaryDir& dir, const QString& name,
                      const QByteArray& bytes);

// Reads `path` through ScanData::openAscii and then ScanData::readAscii, or,
// with a non-zero `blockSize`, readAsciiBlocks with that block size.
AsciiReadResult readWithScanData(const QString& path,
                                 std::size_t blockSize = 0);

// Equal columns (float bits), counters, form and messages.
::testing::AssertionResult sameRead(const AsciiReadResult& expected,
                                    const AsciiReadResult& actual);

// Reads `bytes` (written to a file of `dir`) with the reference and with
// ScanData (readAscii and the given block sizes) and requires equal reads.
::testing::AssertionResult readsLikeQt(const QTemporaryDir& dir,
                                       const QByteArray& bytes,
                                       std::initializer_list<std::size_t>
                                           blockSizes = {});

#endif  // SCANFIT_TESTS_SCAN_ASCII_TEST_UTIL_H_
