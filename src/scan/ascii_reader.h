// The block loop of the ASCII scanner file reader (ScanData::openAscii and
// ScanData::readAscii are defined in ascii_reader.cc), exposed with its
// block size so that tests can run it on small blocks.
#ifndef SCANFIT_SCAN_ASCII_READER_H_
#define SCANFIT_SCAN_ASCII_READER_H_

#include <cstddef>
#include <iosfwd>

struct ScanData;

// Bytes fetched from the input per read.
constexpr std::size_t kAsciiBlockSize = std::size_t(4) << 20;

// Point count reserved when the input's size is unknown (a pipe).
constexpr std::size_t kAsciiPipePointsHint = std::size_t(1) << 20;

// Reads the rest of data.file (opened by openAscii: read-only, unbuffered,
// not in text mode) in blocks of `blockSize` bytes into the point columns,
// and sets lineCount, badLineCount and sevenColumns, as readAscii does
// before it cuts the scan lines. Rejected lines go to `messages`.
void readAsciiBlocks(ScanData& data, std::ostream& messages,
                     std::size_t blockSize);

#endif  // SCANFIT_SCAN_ASCII_READER_H_
