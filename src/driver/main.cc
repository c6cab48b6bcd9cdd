// scanfit: fits the scan lines of an airborne laser-scanner point file and
// splits its points by their residual against the fit.
#include <QtGlobal>

#include <string>
#include <vector>

#include "driver/run.h"

namespace {

// Qt reports some failures with warnings of its own; the user sees only
// scanfit's messages.
void dropQtMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(dropQtMessage);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return runScanfit(args);
}
