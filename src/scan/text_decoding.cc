#include "scan/text_decoding.h"

#include <QByteArrayView>
#include <QStringDecoder>

QString decodeUtf8Line(const char* begin, const char* end) {
  // A fresh stateful decoder, never flushed: ConvertInitialBom keeps a
  // byte-order mark at the line's start as the character it is everywhere
  // but at the input's start.
  QStringDecoder decoder(QStringConverter::Utf8,
                         QStringConverter::Flag::ConvertInitialBom);
  QString text = decoder.decode(QByteArrayView(begin, end - begin));
  text.remove(QChar(u'\r'));
  return text;
}

namespace {

constexpr std::size_t kPieceBytes = std::size_t(64) << 10;

bool isAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

}  // namespace

const char* utf8PieceEnd(const char* from, const char* end) {
  if (std::size_t(end - from) <= kPieceBytes) return end;
  const char* const cut = from + kPieceBytes;
  for (const char* p = cut; p > from; --p)
    if (isAscii(p[-1])) return p;
  for (const char* p = cut; p < end; ++p)
    if (isAscii(*p)) return p + 1;
  return end;
}
