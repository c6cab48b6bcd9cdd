// Reading a binary point file: a plain sequence of 18-byte point records.
// Records are decoded straight from large blocks into the columns; a
// trailing partial record is ignored, and a stream without a size (a pipe)
// reads to its end the same way.
#include <QFile>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "scan/input_open.h"
#include "scan/point_record.h"
#include "scan/scan_data.h"

namespace {

constexpr qint64 kRecordsPerBlock = 1 << 16;

// Append the decoded records of `count` whole records at `bytes`.
void appendRecords(ScanData& data, const unsigned char* bytes, size_t count) {
  const size_t first = data.col0.size();
  for (std::vector<float>* column :
       {&data.col0, &data.latitude, &data.longitude, &data.elevation})
    column->resize(first + count);
  data.col4.resize(first + count);
  data.sweepIndex.resize(first + count);
  for (size_t r = 0; r < count; ++r, bytes += kPointRecordSize) {
    const PointRecord record = decodePointRecord(bytes);
    const size_t i = first + r;
    data.col0[i] = fromE7(record.col0E7);
    data.latitude[i] = fromE7(record.latitudeE7);
    data.longitude[i] = fromE7(record.longitudeE7);
    data.elevation[i] = fromE3(record.elevationE3);
    data.col4[i] = record.col4Byte;
    data.sweepIndex[i] = record.sweepIndexByte;
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
