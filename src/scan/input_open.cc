#include "scan/input_open.h"

#include <cstdlib>
#include <iostream>

void openInputOrExit(QFile& file, const QString& name) {
  file.setFileName(name);
  // Unbuffered: the readers fetch large blocks themselves.
  if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
    return;
  std::cerr << "Cannot read from: " << QFile::encodeName(name).constData()
            << std::endl
            << file.errorString().toLatin1().constData() << std::endl;
  std::exit(-1);
}

qint64 inputSizeHint(const QFile& file) {
  return file.isSequential() ? 0 : file.size();
}
