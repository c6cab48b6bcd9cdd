// Point records written back from the columns: conversions, saturation,
// the split by residual, and the byte stream a data stream would write.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDataStream>
#include <QIODevice>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "output/point_outputs.h"
#include "plain_fit.h"
#include "scan/point_record.h"

namespace {

using Outputs = PointRows;

std::string text(const RowBlock& rows) { return textOf(rows); }

// A point as the binary reader stores a record.
void addRecord(ScanData& data, const PointRecord& r, float residual = 0.0f) {
  data.col0.push_back(fromE7(r.col0E7));
  data.latitude.push_back(fromE7(r.latitudeE7));
  data.longitude.push_back(fromE7(r.longitudeE7));
  data.elevation.push_back(fromE3(r.elevationE3));
  data.col4.push_back(r.col4Byte);
  data.sweepIndex.push_back(r.sweepIndexByte);
  data.residual.push_back(residual);
  data.pointSigma.push_back(0.0f);
  data.distance.push_back(0.0f);
}

void addPoint(ScanData& data, float col0, float latitude, float longitude,
              float elevation, short col4, short sweepIndex, float residual) {
  data.col0.push_back(col0);
  data.latitude.push_back(latitude);
  data.longitude.push_back(longitude);
  data.elevation.push_back(elevation);
  data.col4.push_back(col4);
  data.sweepIndex.push_back(sweepIndex);
  data.residual.push_back(residual);
  data.pointSigma.push_back(0.0f);
  data.distance.push_back(0.0f);
}

std::vector<PointRecord> records(const RowBlock& out) {
  const std::string all = text(out);
  EXPECT_EQ(all.size() % kPointRecordSize, 0u);
  std::vector<PointRecord> result;
  for (size_t at = 0; at + kPointRecordSize <= all.size();
       at += kPointRecordSize)
    result.push_back(decodePointRecord(
        reinterpret_cast<const unsigned char*>(all.data() + at)));
  return result;
}

PointRecord writtenBack(const PointRecord& read) {
  ScanData data;
  addRecord(data, read);
  Outputs out;
  writeBinaryPoints(data, out);
  const std::vector<PointRecord> written = records(out.fit);
  EXPECT_EQ(written.size(), 1u);
  return written.empty() ? PointRecord() : written[0];
}

// The stored floats are 2970157/65536 (x 10^7 = 453209991.45...) and
// -505679/4096 (x 10^7 = -1234567871.09375): both come back lower in
// magnitude than read; 78.5, -2.5 and the bytes come back as they were.
TEST(BinaryPoints, WorkedRecordReadAndWrittenBack) {
  const unsigned char read[kPointRecordSize] = {
      0x90, 0x6F, 0x03, 0x1B, 0x40, 0x26, 0xCA, 0x2E, 0x2E,
      0xFD, 0x69, 0xB6, 0x3C, 0xF6, 0xFF, 0xFF, 0xFF, 0x7D};
  const unsigned char expected[kPointRecordSize] = {
      0x87, 0x6F, 0x03, 0x1B, 0x40, 0x26, 0xCA, 0x2E, 0x41,
      0xFD, 0x69, 0xB6, 0x3C, 0xF6, 0xFF, 0xFF, 0xFF, 0x7D};
  ScanData data;
  addRecord(data, decodePointRecord(read));
  Outputs out;
  writeBinaryPoints(data, out);
  EXPECT_EQ(
      text(out.fit),
      std::string(reinterpret_cast<const char*>(expected), sizeof expected));
  EXPECT_EQ(text(out.high) + text(out.low), "");
}

// 1.234 is held as 1.2339999675...; 45.0000001 as 45; 12.3456789 as
// 12.3456792831...
TEST(BinaryPoints, ValuesPassThroughSinglePrecisionAndTruncation) {
  PointRecord r;
  r.elevationE3 = 1234;
  EXPECT_EQ(writtenBack(r).elevationE3, 1233);
  r.elevationE3 = -1234;
  EXPECT_EQ(writtenBack(r).elevationE3, -1233);
  r.latitudeE7 = 450000001;
  EXPECT_EQ(writtenBack(r).latitudeE7, 450000000);
  r.latitudeE7 = 123456789;
  EXPECT_EQ(writtenBack(r).latitudeE7, 123456792);
  r.elevationE3 = -2500;
  r.latitudeE7 = 785000000;
  EXPECT_EQ(writtenBack(r).elevationE3, -2500);
  EXPECT_EQ(writtenBack(r).latitudeE7, 785000000);
}

TEST(BinaryPoints, ByteFieldsAreTheLowBitsOfTheShorts) {
  ScanData data;
  for (int b = 0; b <= 255; ++b)
    addPoint(data, 0, 0, 0, 0, short(b), short(255 - b), 0.0f);
  addPoint(data, 0, 0, 0, 0, -1, 256 + 7, 0.0f);
  addPoint(data, 0, 0, 0, 0, -32768, 32767, 0.0f);
  Outputs out;
  writeBinaryPoints(data, out);
  const std::vector<PointRecord> written = records(out.fit);
  ASSERT_EQ(written.size(), 258u);
  for (int b = 0; b <= 255; ++b) {
    EXPECT_EQ(written[b].col4Byte, b);
    EXPECT_EQ(written[b].sweepIndexByte, 255 - b);
  }
  EXPECT_EQ(written[256].col4Byte, 0xFF);
  EXPECT_EQ(written[256].sweepIndexByte, 7);
  EXPECT_EQ(written[257].col4Byte, 0x00);
  EXPECT_EQ(written[257].sweepIndexByte, 0xFF);
}

// 2147483647 is read as 214.7483673... (x 10^7 = 2147483673.09...), beyond
// the int32 range: it stays at the top of the range instead of wrapping
// to the bottom.
TEST(BinaryPoints, ProductsOutsideInt32Saturate) {
  PointRecord r;
  r.col0E7 = INT32_MAX;
  r.latitudeE7 = INT32_MIN;
  const PointRecord back = writtenBack(r);
  EXPECT_EQ(back.col0E7, INT32_MAX);
  EXPECT_EQ(back.latitudeE7, INT32_MIN);

  ScanData data;
  addPoint(data, std::nanf(""), INFINITY, -INFINITY, 3e6f, 0, 0, 0.0f);
  addPoint(data, -std::nanf(""), 1e30f, -1e30f, -3e6f, 0, 0, 0.0f);
  Outputs out;
  writeBinaryPoints(data, out);
  const std::vector<PointRecord> written = records(out.fit);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0].col0E7, INT32_MIN);
  EXPECT_EQ(written[0].latitudeE7, INT32_MAX);
  EXPECT_EQ(written[0].longitudeE7, INT32_MIN);
  EXPECT_EQ(written[0].elevationE3, INT32_MAX);
  EXPECT_EQ(written[1].col0E7, INT32_MIN);
  EXPECT_EQ(written[1].latitudeE7, INT32_MAX);
  EXPECT_EQ(written[1].longitudeE7, INT32_MIN);
  EXPECT_EQ(written[1].elevationE3, INT32_MIN);
}

TEST(BinaryPoints, SplitByResidualInInputOrder) {
  ScanData data;
  const float residuals[] = {5.0f,          std::nextafter(5.0f, INFINITY),
                             -50.0f,        std::nextafter(-50.0f, -INFINITY),
                             INFINITY,      -INFINITY,
                             std::nanf(""), 0.0f};
  for (int i = 0; i < 8; ++i)
    addPoint(data, float(i), 0, 0, 0, short(i), 0, residuals[i]);
  Outputs out;
  writeBinaryPoints(data, out);
  auto col4Bytes = [](const RowBlock& buffer) {
    std::vector<int> bytes;
    for (const PointRecord& r : records(buffer)) bytes.push_back(r.col4Byte);
    return bytes;
  };
  EXPECT_EQ(col4Bytes(out.fit), (std::vector<int>{0, 2, 7}));
  EXPECT_EQ(col4Bytes(out.high), (std::vector<int>{1, 4}));
  EXPECT_EQ(col4Bytes(out.low), (std::vector<int>{3, 5}));
}

TEST(BinaryPoints, NoPointsOrNoneOfAClassLeaveEmptyOutputs) {
  ScanData data;
  Outputs out;
  writeBinaryPoints(data, out);
  EXPECT_EQ(text(out.fit) + text(out.high) + text(out.low), "");
  addPoint(data, 1, 2, 3, 4, 5, 6, 0.0f);
  addPoint(data, 1, 2, 3, 4, 5, 6, std::nanf(""));
  writeBinaryPoints(data, out);
  EXPECT_EQ(text(out.fit).size(), size_t(kPointRecordSize));
  EXPECT_EQ(text(out.high) + text(out.low), "");
}

// The conversion as the rule states it: the exact product, truncated,
// then clamped to the int32 range; NaN to the bottom of it.
qint32 scaledReference(float value, long double factor) {
  const long double product =
      std::trunc(static_cast<long double>(value) * factor);
  if (std::isnan(product)) return INT32_MIN;
  if (product > INT32_MAX) return INT32_MAX;
  if (product < INT32_MIN) return INT32_MIN;
  return static_cast<qint32>(product);
}

void writeWithDataStream(QDataStream& stream, const ScanData& data, size_t i) {
  stream << scaledReference(data.col0[i], 1e7)
         << scaledReference(data.latitude[i], 1e7)
         << scaledReference(data.longitude[i], 1e7)
         << scaledReference(data.elevation[i], 1000.0f)
         << static_cast<qint8>(data.col4[i])
         << static_cast<qint8>(data.sweepIndex[i]);
}

float randomColumnValue(std::mt19937& random, float range) {
  if (random() % 64 == 0) {  // now and then any float: NaN, inf, huge, tiny
    const uint32_t bits = random();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  return std::uniform_real_distribution<float>(-range, range)(random);
}

TEST(BinaryPoints, SameBytesAsADataStreamWritingEachField) {
  std::mt19937 random(2718);
  ScanData data;
  for (int i = 0; i < 50000; ++i) {
    addPoint(data, randomColumnValue(random, 250.0f),
             randomColumnValue(random, 90.0f),
             randomColumnValue(random, 250.0f), randomColumnValue(random, 3e6f),
             short(random()), short(random()),
             randomColumnValue(random, 100.0f));
  }
  QByteArray fitBytes, highBytes, lowBytes;
  QDataStream fitStream(&fitBytes, QIODevice::WriteOnly);
  QDataStream highStream(&highBytes, QIODevice::WriteOnly);
  QDataStream lowStream(&lowBytes, QIODevice::WriteOnly);
  for (QDataStream* s : {&fitStream, &highStream, &lowStream})
    s->setByteOrder(QDataStream::LittleEndian);
  for (size_t i = 0; i < data.pointCount(); ++i) {
    const float r = data.residual[i];
    if (r >= -50.0f && r <= 5.0f) writeWithDataStream(fitStream, data, i);
    if (r > 5.0f) writeWithDataStream(highStream, data, i);
    if (r < -50.0f) writeWithDataStream(lowStream, data, i);
  }
  Outputs out;
  writeBinaryPoints(data, out);
  EXPECT_GT(lowBytes.size(), 0);
  EXPECT_TRUE(text(out.fit) == fitBytes.toStdString());
  EXPECT_TRUE(text(out.high) == highBytes.toStdString());
  EXPECT_TRUE(text(out.low) == lowBytes.toStdString());
}

}  // namespace
