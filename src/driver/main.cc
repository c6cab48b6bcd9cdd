// scanfit: fits the scan lines of an airborne laser-scanner point file and
// splits its points by their residual against the fit.
#include <QtGlobal>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "driver/exit_status.h"
#include "driver/run.h"
#include "driver/stop_signals.h"

namespace {

// Qt reports some failures with warnings of its own; the user sees only
// scanfit's messages.
void dropQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

// A failure no part of the run answers (oneTBB's, say, when a thread it
// counted on cannot be started after all) ends the run with its message,
// status -1 and no temporary file, rather than with an abort.
[[noreturn]] void endOnUnansweredFailure() {
  try {
    if (const std::exception_ptr failure = std::current_exception())
      std::rethrow_exception(failure);
  } catch (const std::exception& failure) {
    std::cerr << failure.what() << std::endl;
  } catch (...) {
  }
  removeTemporaries();
  std::_Exit(exitCode(ExitStatus::kFailure));
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(dropQtMessage);
  std::set_terminate(endOnUnansweredFailure);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return exitCode(runScanfit(args));
}
