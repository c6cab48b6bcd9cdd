// Helpers of the ASCII reader tests: files in a temporary folder, reads in
// blocks as a run reads, and a bitwise comparison of two reads.
#ifndef SCANFIT_TESTS_SCAN_ASCII_TEST_UTIL_H_
#define SCANFIT_TESTS_SCAN_ASCII_TEST_UTIL_H_

#include "scan/qt_reference_reader.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>

// Writes `bytes` to `name` in `dir` and returns the file's path.
QString writeTestFile(const QTemporaryDir& dir, const QString& name,
                      const QByteArray& bytes);

struct InputReader;

// Opens `path` for `reader` as a text input, read-only and unbuffered as a
// run opens it.
void openTextInput(InputReader& reader, const QString& path);

// Reads `path` as a run reads it, in blocks of a run's size or, when not 0,
// of `blockSize` bytes, with every point kept.
AsciiReadResult readInBlocks(const QString& path,
                                 std::size_t blockSize = 0);

// Equal columns (float bits), counters, form and messages.
::testing::AssertionResult sameRead(const AsciiReadResult& expected,
                                    const AsciiReadResult& actual);

// A reference reading path (qt_reference_reader.h).
using AsciiReference = AsciiReadResult (*)(const QString& path);

// Reads `bytes` (written to a file of `dir`) with `reference` and in blocks
// (of a run's size and of the given sizes) and requires equal reads.
::testing::AssertionResult readsLike(AsciiReference reference,
                                     const QTemporaryDir& dir,
                                     const QByteArray& bytes,
                                     std::initializer_list<std::size_t>
                                         blockSizes = {});

// readsLike against the literal Qt path. An input that may hit the chunk-edge
// fault of QTextStream's decoder, where the reader departs from that path
// on purpose, fails as a mistake of the test.
::testing::AssertionResult readsLikeQt(const QTemporaryDir& dir,
                                       const QByteArray& bytes,
                                       std::initializer_list<std::size_t>
                                           blockSizes = {});

// QTextStream's raw read size: its decoder sees the input in pieces cut at
// multiples of it.
constexpr qsizetype kTextStreamChunkSize = 16384;

// True for a UTF-8 input with a byte >= 0x80 right before a chunk edge:
// only there can an unfinished sequence end at a chunk's end.
bool mayHitChunkEdgeFault(const QByteArray& bytes);

// `bytes` with every such byte replaced by 'x' (UTF-8 inputs only).
QByteArray avoidingChunkEdgeFault(QByteArray bytes);

#endif  // SCANFIT_TESTS_SCAN_ASCII_TEST_UTIL_H_
