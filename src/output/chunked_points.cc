#include "output/chunked_points.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

void RowBlock::grow(size_t needed) {
  const size_t grown = std::max({needed, 2 * capacity, kFirstCapacity});
  std::unique_ptr<char[]> larger(new char[grown]);
  if (size > 0) std::memcpy(larger.get(), bytes.get(), size);
  bytes = std::move(larger);
  capacity = grown;
}

namespace {

// Chunks in flight: formatted or being formatted, not yet written. Chunk k
// uses slot k % kSlots, which is free again once chunk k - kSlots has been
// written.
constexpr size_t kSlots = 4;
constexpr int kFormatThreads = 2;

struct ChunkPipeline {
  size_t points;
  size_t chunks;
  const FormatChunk& format;
  ChunkRows slots[kSlots];

  std::mutex mutex;
  std::condition_variable changed;
  size_t nextToFormat = 0;   // guarded by mutex
  size_t written = 0;        // guarded by mutex
  bool ready[kSlots] = {};   // guarded by mutex

  ChunkPipeline(size_t n, const FormatChunk& formatChunk)
      : points(n),
        chunks((n + kPointsPerChunk - 1) / kPointsPerChunk),
        format(formatChunk) {}

  // A formatting thread: takes the next chunk, waits for its slot, fills it.
  void formatChunks() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      const size_t k = nextToFormat++;
      if (k >= chunks) return;
      changed.wait(lock, [&] { return k < written + kSlots; });
      lock.unlock();
      const size_t begin = k * kPointsPerChunk;
      format(begin, std::min(points, begin + kPointsPerChunk), slots[k % kSlots]);
      lock.lock();
      ready[k % kSlots] = true;
      changed.notify_all();
    }
  }

  // The calling thread: every chunk, in order, to the outputs.
  void writeChunks(OutputBuffer& fit, OutputBuffer& high, OutputBuffer& low) {
    for (size_t k = 0; k < chunks; ++k) {
      ChunkRows& rows = slots[k % kSlots];
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ready[k % kSlots]; });
      }
      for (auto [block, out] : {std::pair{&rows.fit, &fit},
                                {&rows.high, &high}, {&rows.low, &low}}) {
        out->appendBlock(block->bytes.get(), block->size);
        block->size = 0;
      }
      const std::lock_guard<std::mutex> lock(mutex);
      ready[k % kSlots] = false;
      written = k + 1;
      changed.notify_all();
    }
  }
};

}  // namespace

void writeInChunks(size_t n, OutputBuffer& fit, OutputBuffer& high,
                   OutputBuffer& low, const FormatChunk& format) {
  ChunkPipeline pipeline(n, format);
  std::vector<std::thread> formatters;
  for (int t = 0; t < kFormatThreads; ++t)
    formatters.emplace_back([&pipeline] { pipeline.formatChunks(); });
  pipeline.writeChunks(fit, high, low);
  for (std::thread& formatter : formatters) formatter.join();
}
