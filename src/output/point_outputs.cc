#include "output/point_outputs.h"

#include <cstdint>
#include <cstring>

#include "analysis/residual_class.h"
#include "output/fixed_format.h"
#include "scan/point_record.h"

namespace {

constexpr int kRowEndWidth = 10;

// Bytes of a six-column text row whose values fit their fields.
constexpr size_t kTypicalRowBytes = 84;

constexpr size_t kPointRowCapacity =
    fixedTextCapacity(9, 6) + fixedTextCapacity(11, 6) +
    fixedTextCapacity(12, 6) + fixedTextCapacity(10, 3) +
    3 * shortTextCapacity(4) + 2 * fixedTextCapacity(10, 3) + kRowEndWidth;

// The block a class's rows go to, or null for points with a NaN residual.
RowBlock* blockFor(PointRows& rows, ResidualClass residualClass) {
  switch (residualClass) {
    case ResidualClass::Fit:
      return &rows.fit;
    case ResidualClass::High:
      return &rows.high;
    case ResidualClass::Low:
      return &rows.low;
    case ResidualClass::Unclassified:
      break;
  }
  return nullptr;
}

// The end of a row: the sigma field and the line end. Every point of a
// scan line has its line's sigma, so this text is made once per line and
// copied into the line's rows.
struct RowTail {
  uint32_t sigmaBits = 0;
  size_t length = 0;
  char text[fixedTextCapacity(10, 3) + kRowEndWidth];
};

const RowTail& rowTailFor(float sigma, RowTail& tail) {
  uint32_t bits;
  std::memcpy(&bits, &sigma, sizeof bits);
  if (tail.length == 0 || bits != tail.sigmaBits) {
    tail.sigmaBits = bits;
    char* const end = appendRowEnd(appendFixed(tail.text, sigma, 10, 3),
                                   kRowEndWidth);
    tail.length = static_cast<size_t>(end - tail.text);
  }
  return tail;
}

char* formatPointRow(char* p, const ScanData& data, size_t i, RowTail& tail) {
  p = appendFixed(p, data.col0[i], 9, 6);
  p = appendFixed(p, data.latitude[i], 11, 6);
  p = appendFixed(p, data.longitude[i], 12, 6);
  p = appendFixed(p, data.elevation[i], 10, 3);
  p = appendShort(p, data.col4[i], 4);
  p = appendShort(p, data.sweepIndex[i], 4);
  if (data.sevenColumns) {
    // A binary-read store can carry the flag without the column; keep the
    // layout rather than read past the end.
    p = appendShort(p, i < data.col6.size() ? data.col6[i] : short(0), 4);
  }
  p = appendFixed(p, data.residual[i], 10, 3);
  const RowTail& end = rowTailFor(data.pointSigma[i], tail);
  std::memcpy(p, end.text, end.length);
  return p + end.length;
}

PointRecord pointRecord(const ScanData& data, size_t i) {
  PointRecord r;
  r.col0E7 = toE7(data.col0[i]);
  r.latitudeE7 = toE7(data.latitude[i]);
  r.longitudeE7 = toE7(data.longitude[i]);
  r.elevationE3 = toE3(data.elevation[i]);
  r.col4Byte = static_cast<uint8_t>(data.col4[i]);
  r.sweepIndexByte = static_cast<uint8_t>(data.sweepIndex[i]);
  return r;
}

// Every point with a number as residual, in input order, as the row that
// formatRow(row, i) writes (at most kRowCapacity bytes) into the block of
// its class. Most rows go to the fit block: it gets room for all typical
// rows at once rather than growing into it row by row.
template <size_t kRowCapacity, size_t kTypicalRowBytes, typename FormatRow>
ClassCounts writeClassified(const ScanData& data, PointRows& rows,
                            FormatRow formatRow) {
  const size_t n = data.pointCount();
  rows.fit.room(n * kTypicalRowBytes + kRowCapacity);
  ClassCounts counts;
  for (size_t i = 0; i < n; ++i) {
    const ResidualClass residualClass = classifyResidual(data.residual[i]);
    counts.add(residualClass);
    RowBlock* block = blockFor(rows, residualClass);
    if (block) block->advance(formatRow(block->room(kRowCapacity), i));
  }
  return counts;
}

}  // namespace

ClassCounts writeTextPoints(const ScanData& data, PointRows& rows) {
  RowTail tail;
  const auto formatRow = [&data, &tail](char* row, size_t i) {
    return formatPointRow(row, data, i, tail);
  };
  return writeClassified<kPointRowCapacity, kTypicalRowBytes>(data, rows,
                                                              formatRow);
}

ClassCounts writeBinaryPoints(const ScanData& data, PointRows& rows) {
  const auto formatRecord = [&data](char* row, size_t i) {
    encodePointRecord(pointRecord(data, i),
                      reinterpret_cast<unsigned char*>(row));
    return row + kPointRecordSize;
  };
  return writeClassified<kPointRecordSize, kPointRecordSize>(data, rows,
                                                            formatRecord);
}
