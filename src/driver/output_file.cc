#include "driver/output_file.h"

#include <QFile>

#include <iostream>

bool OutputFile::fail() {
  std::cerr << "Cannot write to: "
            << QFile::encodeName(file.fileName()).constData() << std::endl
            << file.errorString().toLatin1().constData() << std::endl;
  file.cancelWriting();
  return false;
}

bool OutputFile::open(const QString& name) {
  file.setFileName(name);
  return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || fail();
}

bool OutputFile::flush() {
  buffer.flush();
  return !buffer.writeFailed || fail();
}

bool OutputFile::commit() {
  if (!flush()) return false;
  return file.commit() || fail();
}
