// Formatting rows is most of the cost of the point outputs, and no row
// depends on another. So the points are cut into chunks, which two helper
// threads format into blocks of their own while the calling thread hands
// the finished blocks to the outputs, strictly in point order. The files
// are byte for byte what one thread writing row by row produces.
#ifndef SCANFIT_OUTPUT_CHUNKED_POINTS_H_
#define SCANFIT_OUTPUT_CHUNKED_POINTS_H_

#include <cstddef>
#include <functional>
#include <memory>

#include "output/output_buffer.h"

// Bytes of formatted rows. Left uninitialised and grown by doubling, so a
// row is formatted straight into place and only written pages are touched.
struct RowBlock {
  std::unique_ptr<char[]> bytes;
  size_t size = 0;
  size_t capacity = 0;

  // Where the next row goes, with room for at least `n` bytes.
  char* room(size_t n) {
    if (capacity - size < n) grow(size + n);
    return bytes.get() + size;
  }
  // The row written at room() ends at `end`.
  void advance(const char* end) { size = static_cast<size_t>(end - bytes.get()); }
  void grow(size_t needed);

  // Growing from nothing starts here, not at a single row.
  static constexpr size_t kFirstCapacity = size_t(64) << 10;
};

// The rows of one chunk, split by class.
struct ChunkRows {
  RowBlock fit, high, low;
};

// Points per chunk: large enough that handing a chunk over is noise, small
// enough that the blocks in flight stay a few megabytes.
constexpr size_t kPointsPerChunk = size_t(1) << 12;

// Formats the points [begin, end) into `rows`, which arrive empty.
using FormatChunk = std::function<void(size_t begin, size_t end, ChunkRows& rows)>;

// Calls format for consecutive chunks of [0, n), on helper threads, and
// appends each chunk's rows to fit, high and low in chunk order.
void writeInChunks(size_t n, OutputBuffer& fit, OutputBuffer& high,
                   OutputBuffer& low, const FormatChunk& format);

#endif  // SCANFIT_OUTPUT_CHUNKED_POINTS_H_
