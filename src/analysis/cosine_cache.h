// The extended-precision cosine is most of the cost of the scan-line fit,
// yet its argument is a float derived from a latitude, and the points of a
// flight lie within a few tenths of a degree of each other: the same few
// thousand arguments come back again and again. This cache remembers the
// latest cosine for each slot of a direct-mapped table keyed by the
// argument's bits, so a hit returns exactly what std::cos would.
#ifndef SCANFIT_ANALYSIS_COSINE_CACHE_H_
#define SCANFIT_ANALYSIS_COSINE_CACHE_H_

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

struct CosineCache {
  // Neighbouring angles differ in their low bits and so take neighbouring
  // slots: a flight's whole latitude range fits without collisions.
  static constexpr uint32_t kSlots = 1u << 14;

  std::vector<uint32_t> keys;
  std::vector<long double> values;

  CosineCache() : keys(kSlots), values(kSlots) {
    // Every slot starts out holding the true cosine of its initial key (the
    // angle +0.0), so a lookup never returns anything but a cosine.
    for (uint32_t slot = 0; slot < kSlots; ++slot) values[slot] = 1.0L;
  }

  long double cos(float angle) {
    uint32_t bits;
    std::memcpy(&bits, &angle, sizeof bits);
    const uint32_t slot = bits & (kSlots - 1);
    if (keys[slot] != bits) {
      keys[slot] = bits;
      values[slot] = std::cos(static_cast<long double>(angle));
    }
    return values[slot];
  }
};

#endif  // SCANFIT_ANALYSIS_COSINE_CACHE_H_
