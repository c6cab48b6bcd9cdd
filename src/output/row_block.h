// Bytes of formatted rows for one output, in memory. Left uninitialised
// and grown by doubling, so that a row is formatted straight into place
// and only written pages are touched; clear() keeps the capacity, so a
// block reused batch after batch is allocated once.
#ifndef SCANFIT_OUTPUT_ROW_BLOCK_H_
#define SCANFIT_OUTPUT_ROW_BLOCK_H_

#include <cstddef>
#include <memory>

struct RowBlock {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  std::size_t capacity = 0;

  // Where the next row goes, with room for at least `n` bytes.
  char* room(std::size_t n) {
    if (capacity - size < n) grow(size + n);
    return bytes.get() + size;
  }
  // The row written at room() ends at `end`.
  void advance(const char* end) {
    size = static_cast<std::size_t>(end - bytes.get());
  }
  void grow(std::size_t needed);
  void clear() { size = 0; }

  // Growing from nothing starts here, not at a single row.
  static constexpr std::size_t kFirstCapacity = std::size_t(64) << 10;
};

// The point rows of a batch, split by residual class.
struct PointRows {
  RowBlock fit, high, low;
};

#endif  // SCANFIT_OUTPUT_ROW_BLOCK_H_
