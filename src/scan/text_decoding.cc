#include "scan/text_decoding.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <algorithm>

QString decodeLineLikeTextStream(const char* begin, const char* end,
                                 std::int64_t streamOffset) {
  // ConvertInitialBom: a byte-order mark at the start of a line is a
  // U+FEFF character, as it is for QTextStream anywhere but at the start
  // of the input.
  QStringDecoder decoder(QStringConverter::Utf8,
                         QStringConverter::Flag::ConvertInitialBom);
  QString text;
  text.reserve(end - begin);
  const char* p = begin;
  std::int64_t offset = streamOffset;
  while (p < end) {
    const std::int64_t toBoundary =
        kTextStreamChunkSize - offset % kTextStreamChunkSize;
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(
        std::min<std::int64_t>(toBoundary, end - p));
    const QString piece = decoder.decode(QByteArrayView(p, n));
    text += piece;
    p += n;
    offset += n;
  }
  // The decoder is never flushed, as QTextStream never flushes its own: an
  // unfinished sequence at the end of the input disappears.
  text.remove(QChar(u'\r'));
  return text;
}

bool startsWithUtf16Or32ByteOrderMark(const char* bytes, std::size_t size) {
  const auto b = [bytes](std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
  };
  // UTF-32 LE (FF FE 00 00) and UTF-16 LE (FF FE) share their start.
  if (size >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) ||
                    (b(0) == 0xFE && b(1) == 0xFF)))
    return true;
  return size >= 4 && b(0) == 0x00 && b(1) == 0x00 && b(2) == 0xFE &&
         b(3) == 0xFF;
}

bool startsWithUtf8ByteOrderMark(const char* bytes, std::size_t size) {
  return size >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
         static_cast<unsigned char>(bytes[1]) == 0xBB &&
         static_cast<unsigned char>(bytes[2]) == 0xBF;
}
