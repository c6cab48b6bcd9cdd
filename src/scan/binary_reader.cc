// Reading a binary point file: a plain sequence of 18-byte point records.
// Records are decoded straight from large blocks into the columns; a
// trailing partial record is ignored, and a stream without a size (a pipe)
// reads to its end the same way.
#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "scan/input_open.h"
#include "scan/point_record.h"
#include "scan/scan_data.h"

namespace {

constexpr qint64 kRecordsPerBlock = 1 << 16;

// Append the decoded records of `count` whole records at `bytes`. Records
// are decoded a batch at a time into small arrays that stay in cache, and
// each array is appended to its column in one copy: resizing the columns
// first would write every element twice.
void appendRecords(ScanData& data, const unsigned char* bytes, size_t count) {
  constexpr size_t kBatch = 1024;
  float col0[kBatch], latitude[kBatch], longitude[kBatch], elevation[kBatch];
  short col4[kBatch], sweepIndex[kBatch];
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(kBatch, count - done);
    for (size_t r = 0; r < n; ++r, bytes += kPointRecordSize) {
      const PointRecord record = decodePointRecord(bytes);
      col0[r] = fromE7(record.col0E7);
      latitude[r] = fromE7(record.latitudeE7);
      longitude[r] = fromE7(record.longitudeE7);
      elevation[r] = fromE3(record.elevationE3);
      col4[r] = record.col4Byte;
      sweepIndex[r] = record.sweepIndexByte;
    }
    data.col0.insert(data.col0.end(), col0, col0 + n);
    data.latitude.insert(data.latitude.end(), latitude, latitude + n);
    data.longitude.insert(data.longitude.end(), longitude, longitude + n);
    data.elevation.insert(data.elevation.end(), elevation, elevation + n);
    data.col4.insert(data.col4.end(), col4, col4 + n);
    data.sweepIndex.insert(data.sweepIndex.end(), sweepIndex, sweepIndex + n);
    done += n;
  }
}

}  // namespace

int ScanData::openBinary(const QString& name) {
  openInputOrExit(file, name);
  // A file's size tells its point count before anything is read.
  const qint64 points = inputSizeHint(file) / kPointRecordSize;
  if (points > kMaxInputPoints) {
    reportTooManyPoints(name);
    std::exit(-1);
  }
  reservePoints(static_cast<size_t>(points));
  warmColumns(static_cast<size_t>(points));
  return 0;
}

int ScanData::readBinary() {
  // Uninitialised: every byte is read into before it is decoded.
  const size_t blockSize = kRecordsPerBlock * kPointRecordSize;
  const std::unique_ptr<unsigned char[]> block(new unsigned char[blockSize]);
  size_t held = 0;  // bytes of an incomplete record carried to the next read
  for (;;) {
    const qint64 got = file.read(reinterpret_cast<char*>(block.get()) + held,
                                 static_cast<qint64>(blockSize - held));
    if (got <= 0) break;
    held += static_cast<size_t>(got);
    const size_t records = held / kPointRecordSize;
    // A stream without a size (a pipe) is counted as it comes.
    if (col0.size() + records > size_t(kMaxInputPoints)) return -1;
    appendRecords(*this, block.get(), records);
    const size_t used = records * kPointRecordSize;
    std::memmove(block.get(), block.get() + used, held - used);
    held -= used;
  }
  segmentScanLines();
  return lineCount - badLineCount;
}
