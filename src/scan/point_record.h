// The binary point record: 18 bytes, little-endian, no header or padding.
//
//   offset 0  int32  col0E7       col0 x 10^7
//   offset 4  int32  latitudeE7   degrees x 10^7
//   offset 8  int32  longitudeE7  degrees x 10^7
//   offset 12 int32  elevationE3  elevation x 1000
//   offset 16 uint8  col4Byte
//   offset 17 uint8  sweepIndexByte
//
// The binary reader decodes records into the point columns and the binary
// point outputs encode them back, so both conversions live here.
#ifndef SCANFIT_SCAN_POINT_RECORD_H_
#define SCANFIT_SCAN_POINT_RECORD_H_

#include <cmath>
#include <cstdint>

constexpr int kPointRecordSize = 18;

struct PointRecord {
  int32_t col0E7 = 0;
  int32_t latitudeE7 = 0;
  int32_t longitudeE7 = 0;
  int32_t elevationE3 = 0;
  uint8_t col4Byte = 0;
  uint8_t sweepIndexByte = 0;
};

inline int32_t loadInt32LE(const unsigned char* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                              uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

inline void storeInt32LE(unsigned char* p, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
  p[2] = static_cast<unsigned char>(u >> 16);
  p[3] = static_cast<unsigned char>(u >> 24);
}

inline PointRecord decodePointRecord(const unsigned char* p) {
  PointRecord r;
  r.col0E7 = loadInt32LE(p);
  r.latitudeE7 = loadInt32LE(p + 4);
  r.longitudeE7 = loadInt32LE(p + 8);
  r.elevationE3 = loadInt32LE(p + 12);
  r.col4Byte = p[16];
  r.sweepIndexByte = p[17];
  return r;
}

inline void encodePointRecord(const PointRecord& r, unsigned char* p) {
  storeInt32LE(p, r.col0E7);
  storeInt32LE(p + 4, r.latitudeE7);
  storeInt32LE(p + 8, r.longitudeE7);
  storeInt32LE(p + 12, r.elevationE3);
  p[16] = r.col4Byte;
  p[17] = r.sweepIndexByte;
}

// Stored integer to column value. The quotient is formed in double
// precision and rounded once to float; an int32 over 10^7 or 1000 never
// lands on a float rounding midpoint, so double rounding cannot occur.
inline float fromE7(int32_t v) { return static_cast<float>(double(v) / 1e7); }
inline float fromE3(int32_t v) {
  return static_cast<float>(double(v) / double(1000.0f));
}

// Column value to stored integer: the product truncated toward zero.
// Products beyond the int32 range saturate to its nearer end; NaN is
// written as the int32 minimum. A float has 24 significant bits, 10^7 has
// 17 and 1000 has 7, so the product is exact in double precision: the same
// value the extended-precision product would give, at a third of the cost.
inline int32_t saturatingTruncate(double product) {
  if (std::isnan(product)) return INT32_MIN;
  if (product >= 2147483648.0) return INT32_MAX;
  if (product <= -2147483649.0) return INT32_MIN;
  return static_cast<int32_t>(product);
}
inline int32_t toE7(float v) { return saturatingTruncate(double(v) * 1e7); }
inline int32_t toE3(float v) {
  return saturatingTruncate(double(v) * double(1000.0f));
}

#endif  // SCANFIT_SCAN_POINT_RECORD_H_
