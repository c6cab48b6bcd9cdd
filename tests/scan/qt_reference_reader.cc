#include "scan/qt_reference_reader.h"

#include <QByteArray>
#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <QTextStream>

#include <sstream>

namespace {

float toFloatOrZero(const QString& field) {
  bool ok = false;
  const float value = field.toFloat(&ok);
  return ok ? value : 0.0f;
}

short toShortOrZero(const QString& field) {
  bool ok = false;
  const short value = field.toShort(&ok, 10);
  return ok ? value : short(0);
}

// Everything after QTextStream::readAll.
AsciiReadResult readText(const QString& text) {
  AsciiReadResult r;
  const QStringList textLines =
      text.split(QStringLiteral("\n"), Qt::KeepEmptyParts);
  r.lineCount = static_cast<int>(textLines.size());
  r.sevenColumns =
      textLines[0].simplified().split(QStringLiteral(" "), Qt::KeepEmptyParts)
          .size() == 7;

  std::ostringstream messages;
  for (int i = 0; i < r.lineCount; ++i) {
    const QStringList parts = textLines[i].simplified().split(
        QStringLiteral(" "), Qt::KeepEmptyParts);
    const int n = static_cast<int>(parts.size());
    if (!((n == 6 && !r.sevenColumns) || (n == 7 && r.sevenColumns))) {
      messages << i << " " << n << " "
               << textLines[i].toLatin1().constData() << std::endl;
      ++r.badLineCount;
      continue;
    }
    r.col0.push_back(toFloatOrZero(parts[0]));
    r.latitude.push_back(toFloatOrZero(parts[1]));
    r.longitude.push_back(toFloatOrZero(parts[2]));
    r.elevation.push_back(toFloatOrZero(parts[3]));
    r.col4.push_back(toShortOrZero(parts[4]));
    r.sweepIndex.push_back(toShortOrZero(parts[5]));
    if (n == 7) r.col6.push_back(toShortOrZero(parts[6]));
  }
  r.messages = messages.str();
  return r;
}

}  // namespace

AsciiReadResult readWithQtReference(const QString& path) {
  QFile file(path);
  file.open(QIODevice::ReadOnly | QIODevice::Text);
  QTextStream stream(&file);
  return readText(stream.readAll());
}

AsciiReadResult readWithWholeDecodingReference(const QString& path) {
  QFile file(path);
  file.open(QIODevice::ReadOnly);
  const QByteArray bytes = file.readAll();
  // QTextStream's choice of decoder, and its removal of every U+000D; the
  // decoder is never flushed, as QTextStream never flushes its own.
  QStringDecoder decoder(QStringConverter::encodingForData(bytes).value_or(
      QStringConverter::Utf8));
  QString text = decoder.decode(bytes);
  text.remove(QChar(u'\r'));
  return readText(text);
}
