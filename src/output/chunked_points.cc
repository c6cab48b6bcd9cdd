#include "output/chunked_points.h"

namespace {

void deliver(OutputBuffer& from, OutputBuffer& to) {
  to.appendBlock(from.pending);
}

}  // namespace

void reserveChunk(ClassBuffers& chunk) {
  // Room for a chunk of typical rows: growing by doubling would copy the
  // rows and touch fresh pages again and again.
  chunk.fit.pending.reserve(kPointsPerChunk * kTypicalRowBytes);
}

void deliverChunk(ClassBuffers& chunk, OutputBuffer& fit, OutputBuffer& high,
                  OutputBuffer& low) {
  deliver(chunk.fit, fit);
  deliver(chunk.high, high);
  deliver(chunk.low, low);
}
