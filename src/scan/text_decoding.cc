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
