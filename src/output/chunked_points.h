// Formatting rows is most of the cost of the point outputs, and no row
// depends on another. So the points are taken in chunks, two at a time:
// a second thread formats every other chunk into buffers of its own while
// the calling thread formats the one before it, and the chunks reach the
// outputs strictly in point order. The files are byte for byte what one
// thread writing row by row produces.
#ifndef SCANFIT_OUTPUT_CHUNKED_POINTS_H_
#define SCANFIT_OUTPUT_CHUNKED_POINTS_H_

#include <algorithm>
#include <cstddef>
#include <thread>

#include "output/output_buffer.h"

// The three outputs of one class split, or the buffers of one chunk.
struct ClassBuffers {
  OutputBuffer fit, high, low;
};

// Bytes of a text point row whose values fit their fields.
constexpr size_t kTypicalRowBytes = 84;

void reserveChunk(ClassBuffers& chunk);

// Appends a chunk's bytes to the outputs and empties the chunk.
void deliverChunk(ClassBuffers& chunk, OutputBuffer& fit, OutputBuffer& high,
                  OutputBuffer& low);

// Points per chunk: large enough that starting a thread is noise, small
// enough that two chunks of rows stay a few tens of megabytes.
constexpr size_t kPointsPerChunk = size_t(1) << 13;

// Calls format(begin, end, buffers) for consecutive ranges of [0, n) and
// delivers the buffers to fit, high and low in order.
template <typename FormatRange>
void writeInChunks(size_t n, OutputBuffer& fit, OutputBuffer& high,
                   OutputBuffer& low, FormatRange format) {
  ClassBuffers first, second;
  if (n > 0) reserveChunk(first);
  if (n > kPointsPerChunk) reserveChunk(second);
  for (size_t begin = 0; begin < n; begin += 2 * kPointsPerChunk) {
    const size_t middle = std::min(n, begin + kPointsPerChunk);
    const size_t end = std::min(n, middle + kPointsPerChunk);
    std::thread helper;
    if (middle < end)
      helper = std::thread([&] { format(middle, end, second); });
    format(begin, middle, first);
    if (helper.joinable()) helper.join();
    deliverChunk(first, fit, high, low);
    deliverChunk(second, fit, high, low);
  }
}

#endif  // SCANFIT_OUTPUT_CHUNKED_POINTS_H_
