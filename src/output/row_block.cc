#include "output/row_block.h"

#include <algorithm>
#include <cstring>

void RowBlock::grow(std::size_t needed) {
  const std::size_t grown = std::max({needed, 2 * capacity, kFirstCapacity});
  std::unique_ptr<char[]> larger(new char[grown]);
  if (size > 0) std::memcpy(larger.get(), bytes.get(), size);
  bytes = std::move(larger);
  capacity = grown;
}
