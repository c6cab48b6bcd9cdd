#include "output/line_outputs.h"

#include "output/fixed_format.h"

namespace {

// Both tables end their rows with a line feed padded to the last field's
// width.
constexpr int kRowEndWidth = 10;

constexpr size_t kVerRowCapacity =
    fixedTextCapacity(9, 6) + fixedTextCapacity(11, 6) +
    fixedTextCapacity(12, 6) + fixedTextCapacity(10, 3) + kRowEndWidth;

constexpr size_t kFitRowCapacity =
    fixedTextCapacity(9, 6) + 3 * fixedTextCapacity(10, 3) + kRowEndWidth;

}  // namespace

void writeVerFile(RowBlock& out, const ScanData& data) {
  const size_t rows = data.nadirElevation.size();
  for (size_t i = 0; i < rows; ++i) {
    char* const row = out.room(kVerRowCapacity);
    char* p = appendFixed(row, data.nadirCol0[i], 9, 6);
    p = appendFixed(p, data.nadirLatitude[i], 11, 6);
    p = appendFixed(p, data.nadirLongitude[i], 12, 6);
    p = appendFixed(p, data.nadirElevation[i], 10, 3);
    out.advance(appendRowEnd(p, kRowEndWidth));
  }
}

void writeFitFile(RowBlock& out, const ScanData& data) {
  const size_t rows = data.lineSlope.size();
  for (size_t i = 0; i < rows; ++i) {
    char* const row = out.room(kFitRowCapacity);
    char* p = appendFixed(row, data.lineCol0[i], 9, 6);
    p = appendFixed(p, data.lineSlope[i], 10, 3);
    p = appendFixed(p, data.lineIntercept[i], 10, 3);
    p = appendFixed(p, data.lineSigma[i], 10, 3);
    out.advance(appendRowEnd(p, kRowEndWidth));
  }
}
