#include "output/chunked_points.h"

namespace {

void deliver(OutputBuffer& from, OutputBuffer& to) {
  to.append(from.pending.data(), from.pending.size());
  from.pending.clear();
  to.flushIfFull();
}

}  // namespace

void deliverChunk(ClassBuffers& chunk, OutputBuffer& fit, OutputBuffer& high,
                  OutputBuffer& low) {
  deliver(chunk.fit, fit);
  deliver(chunk.high, high);
  deliver(chunk.low, low);
}
