// What the first bytes of an input say it is: the magic bytes of each
// compression, and the point files and text that merely start alike.
#include <gtest/gtest.h>

#include <string>

#include "scan/decompress.h"

namespace {

Compression of(const std::string& bytes) {
  return compressionOf(reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size());
}

TEST(CompressionMagic, EachCompressionByItsFirstBytesAndNothingElse) {
  using namespace std::string_literals;
  const struct {
    std::string bytes;
    Compression expected;
  } cases[] = {
      {"\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03"s, Compression::Gzip},
      // A point record whose time starts alike: another method, a reserved
      // flag.
      {"\x1f\x8b\x09\x00\x00\x00\x00\x00\x00\x03"s, Compression::None},
      {"\x1f\x8b\x08\x20\x00\x00\x00\x00\x00\x03"s, Compression::None},
      {"\x28\xb5\x2f\xfd\x04\x58"s, Compression::Zstd},
      {"\x50\x2a\x4d\x18\x04\x00"s, Compression::Zstd},  // skippable, pzstd's
      {"\x5f\x2a\x4d\x18\x04\x00"s, Compression::Zstd},
      {"\x60\x2a\x4d\x18\x04\x00"s, Compression::None},
      {"\xfd\x37\x7a\x58\x5a\x00\x00\x04"s, Compression::Xz},
      {"\xfd\x37\x7a\x58\x5a\x01\x00\x04"s, Compression::None},
      {"BZh91AY&SY\x01"s, Compression::Bzip2},
      {"BZh1\x17\x72\x45\x38\x50\x90"s, Compression::Bzip2},  // empty stream
      {"BZh9 1 2 3 4 5\n"s, Compression::None},  // text
      {"BZh0" "1AY&SY"s, Compression::None},
      // Too short to tell: as stored.
      {"\x1f\x8b"s, Compression::None},
      {""s, Compression::None},
  };
  for (const auto& c : cases)
    EXPECT_EQ(int(of(c.bytes)), int(c.expected)) << testing::PrintToString(c.bytes);
}

}  // namespace
