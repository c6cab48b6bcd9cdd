// Runs the built scanfit program the way a user does, in a directory of
// the test's own, and collects what the user sees.
#ifndef SCANFIT_TESTS_DRIVER_SCANFIT_PROCESS_H_
#define SCANFIT_TESTS_DRIVER_SCANFIT_PROCESS_H_

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

struct ProcessResult {
  int status = -1;  // exit status as the shell sees it (0..255)
  QByteArray out;   // standard output
  QByteArray err;   // standard error
};

// Run `program` with `args` in `workDir`; `input` feeds standard input.
ProcessResult runProgram(const QString& program, const QStringList& args,
                         const QString& workDir,
                         const QByteArray& input = QByteArray());
ProcessResult runScanfit(const QStringList& args, const QString& workDir,
                         const QByteArray& input = QByteArray());

// Run `program` with `args` in `workDir` in the background, with the
// variables of `environment` ("NAME=value") added to the test's own,
// standard input and output on /dev/null and standard error into the file
// `errorPath`. Returns the process id.
pid_t startProgram(const QString& program, const QStringList& args,
                   const QString& workDir, const QString& errorPath,
                   const QStringList& environment = {});
// The wait status of a process started so, once it has ended.
int waitForExit(pid_t pid);

// Run a shell command line (for ulimit and the like) in `workDir`.
ProcessResult runShell(const QString& command, const QString& workDir);

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// Names of the entries of `dir`, sorted, without "." and "..".
QStringList listDir(const QString& dir);

#endif  // SCANFIT_TESTS_DRIVER_SCANFIT_PROCESS_H_
