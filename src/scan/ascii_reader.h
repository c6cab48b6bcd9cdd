// The block loop of the ASCII scanner file reader (ScanData::openAscii and
// ScanData::readAscii are defined in ascii_reader.cc), exposed with its
// block size and line limit so that tests can run it on small blocks and
// show a refusal without two billion lines.
#ifndef SCANFIT_SCAN_ASCII_READER_H_
#define SCANFIT_SCAN_ASCII_READER_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>

struct ScanData;

// Bytes fetched from the input per read.
constexpr std::size_t kAsciiBlockSize = std::size_t(1) << 20;

// Point count reserved when the input's size is unknown (a pipe).
constexpr std::size_t kAsciiPipePointsHint = std::size_t(1) << 20;

// Reads the rest of data.file (opened by openAscii: read-only, unbuffered,
// not in text mode) in blocks of `blockSize` bytes into the point columns,
// and sets lineCount, badLineCount and sevenColumns, as readAscii does
// before it cuts the scan lines. Rejected lines go to `messages`. Returns
// lineCount - badLineCount, or -1 without setting the counters when the
// input holds more than `maxLines` text lines: reading stops soon after the
// count passes the limit, and the points read so far stay in the columns.
int readAsciiBlocks(ScanData& data, std::ostream& messages,
                    std::size_t blockSize, std::int64_t maxLines);

#endif  // SCANFIT_SCAN_ASCII_READER_H_
