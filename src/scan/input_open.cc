#include "scan/input_open.h"

#include <cstdlib>
#include <iostream>

namespace {

void reportCannotRead(const QString& name, const QByteArray& reason) {
  std::cerr << "Cannot read from: " << QFile::encodeName(name).constData()
            << std::endl
            << reason.constData() << std::endl;
}

}  // namespace

void reportTooManyPoints(const QString& name) {
  reportCannotRead(name, "The input holds more than " +
                             QByteArray::number(kMaxInputPoints) +
                             " points or lines");
}

void openInputOrExit(QFile& file, const QString& name) {
  file.setFileName(name);
  // Unbuffered: the readers fetch large blocks themselves.
  if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    return;
  reportCannotRead(name, file.errorString().toLatin1());
  std::exit(-1);
}

qint64 inputSizeHint(const QFile& file) {
  return file.isSequential() ? 0 : file.size();
}
