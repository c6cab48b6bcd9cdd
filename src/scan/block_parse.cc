#include "scan/block_parse.h"

#include <algorithm>
#include <cstddef>

#include "scan/ascii_line_parser.h"
#include "scan/point_record.h"

namespace {

// Records are decoded a batch at a time into small arrays that stay in
// cache, and each array is appended to its column in one copy: resizing
// the columns first would write every element twice.
void appendRecords(ScanData& points, const unsigned char* bytes,
                   std::size_t count) {
  constexpr std::size_t kBatch = 1024;
  float col0[kBatch], latitude[kBatch], longitude[kBatch], elevation[kBatch];
  short col4[kBatch], sweepIndex[kBatch];
  for (std::size_t done = 0; done < count;) {
    const std::size_t n = std::min(kBatch, count - done);
    for (std::size_t r = 0; r < n; ++r, bytes += kPointRecordSize) {
      const PointRecord record = decodePointRecord(bytes);
      col0[r] = fromE7(record.col0E7);
      latitude[r] = fromE7(record.latitudeE7);
      longitude[r] = fromE7(record.longitudeE7);
      elevation[r] = fromE3(record.elevationE3);
      col4[r] = record.col4Byte;
      sweepIndex[r] = record.sweepIndexByte;
    }
    points.col0.insert(points.col0.end(), col0, col0 + n);
    points.latitude.insert(points.latitude.end(), latitude, latitude + n);
    points.longitude.insert(points.longitude.end(), longitude, longitude + n);
    points.elevation.insert(points.elevation.end(), elevation, elevation + n);
    points.col4.insert(points.col4.end(), col4, col4 + n);
    points.sweepIndex.insert(points.sweepIndex.end(), sweepIndex,
                             sweepIndex + n);
    done += n;
  }
}

}  // namespace

std::int64_t parseInputBlock(InputBlock& block, ScanData& points,
                             RejectedLines& rejected) {
  if (block.binary) {
    appendRecords(points,
                  reinterpret_cast<const unsigned char*>(block.bytes.bytes),
                  block.bytes.size / kPointRecordSize);
    return 0;
  }
  AsciiLineParser parser(points, rejected);
  parser.setForm(block.form);
  if (!block.decodedLines.empty()) {
    const std::int64_t lines = std::int64_t(block.decodedLines.size());
    for (std::int64_t i = 0; i < lines; ++i)
      parser.parseTextLine(block.decodedLines[std::size_t(i)], i);
    return lines;
  }
  // The parser's sentinel goes after the last byte: readInputBlock leaves
  // room for it.
  block.bytes.reserve(block.bytes.size + 1);
  char* const bytes = block.bytes.bytes;
  return parser.parse(bytes, bytes + block.bytes.size, 0, block.endsInput);
}
