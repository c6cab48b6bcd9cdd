#include "driver/scanfit_process.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

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

pid_t startProgram(const QString& program, const QStringList& args,
                   const QString& workDir, const QString& errorPath,
                   const QStringList& environment) {
  // Everything the child needs is made before it exists: between fork and
  // exec it may only make system calls.
  std::vector<std::string> words = {QFile::encodeName(program).toStdString()};
  for (const QString& arg : args) words.push_back(arg.toStdString());
  // The variables given replace the test's own of the same name.
  std::vector<std::string> variables;
  for (char** v = environ; *v != nullptr; ++v) {
    const QString variable = QString::fromLocal8Bit(*v);
    const QString name = variable.section('=', 0, 0) + "=";
    bool replaced = false;
    for (const QString& given : environment) replaced |= given.startsWith(name);
    if (!replaced) variables.emplace_back(*v);
  }
  for (const QString& v : environment) variables.push_back(v.toStdString());
  std::vector<char*> argv, envp;
  for (std::string& w : words) argv.push_back(w.data());
  for (std::string& v : variables) envp.push_back(v.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const QByteArray dir = QFile::encodeName(workDir);
  const QByteArray err = QFile::encodeName(errorPath);

  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  const int errorFile = open(err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (null < 0 || errorFile < 0 || chdir(dir.constData()) != 0) _exit(127);
  dup2(null, 0);
  dup2(null, 1);
  dup2(errorFile, 2);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

int waitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
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
