#include "driver/scanfit_process.h"

#include <QDir>
#include <QFile>
#include <QProcess>

ProcessResult runProgram(const QString& program, const QStringList& args,
                         const QString& workDir, const QByteArray& input) {
  QProcess process;
  process.setWorkingDirectory(workDir);
  process.start(program, args);
  process.waitForStarted();
  if (!input.isEmpty()) process.write(input);
  process.closeWriteChannel();
  process.waitForFinished(600000);
  ProcessResult result;
  result.status =
      process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = process.readAllStandardOutput();
  result.err = process.readAllStandardError();
  return result;
}

ProcessResult runScanfit(const QStringList& args, const QString& workDir,
                         const QByteArray& input) {
  return runProgram(SCANFIT_BINARY, args, workDir, input);
}

ProcessResult runShell(const QString& command, const QString& workDir) {
  return runProgram("/bin/sh", {"-c", command}, workDir);
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(bytes);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  file.open(QIODevice::ReadOnly);
  return file.readAll();
}

QStringList listDir(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                 QDir::Hidden | QDir::System,
                             QDir::Name);
}
