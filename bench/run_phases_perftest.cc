// Where a whole run spends its time: the phases of scanfit's run sequence
// timed one by one on a real input, outputs written into the current
// directory through the same output files scanfit uses. Prints one line per
// phase, with the processor time all threads spent in it; the sum is close
// to a run of scanfit less its process start.
//
//   run_phases_perftest [-b] INPUT
#include "driver/output_file.h"
#include "output/line_outputs.h"
#include "output/point_outputs.h"
#include "scan/scan_data.h"

#include <QFileInfo>
#include <QString>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of all the process's threads so far, in milliseconds.
double cpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Wall time and processor time per phase: their ratio is how many cores a
// phase kept busy.
struct PhaseTimer {
  Clock::time_point start = Clock::now();
  Clock::time_point phase = start;
  double startCpu = cpuMs();
  double phaseCpu = startCpu;

  void print(const char* name, Clock::duration wall, double cpu) {
    const double wallMs = std::chrono::duration<double, std::milli>(wall).count();
    std::printf("%-14s %8.1f ms  cpu %8.1f ms  cores %4.2f\n", name, wallMs,
                cpu, wallMs > 0 ? cpu / wallMs : 0.0);
  }
  void lap(const char* name) {
    const Clock::time_point now = Clock::now();
    const double nowCpu = cpuMs();
    print(name, now - phase, nowCpu - phaseCpu);
    phase = now;
    phaseCpu = nowCpu;
  }
  void total() { print("total", phase - start, phaseCpu - startCpu); }
};

}  // namespace

int main(int argc, char** argv) {
  const bool binary = argc == 3 && std::strcmp(argv[1], "-b") == 0;
  if (argc != (binary ? 3 : 2)) {
    std::fprintf(stderr, "usage: %s [-b] INPUT\n", argv[0]);
    return 2;
  }
  const QString input = QString::fromLocal8Bit(argv[argc - 1]);
  const QString base = QFileInfo(input).baseName();
  const char* kind = binary ? "sbi" : "scn";

  PhaseTimer timer;
  ScanData data;
  std::ostringstream messages;
  const int points = binary ? (data.openBinary(input), data.readBinary())
                            : (data.openAscii(input), data.readAscii(messages));
  timer.lap("read");
  data.fitScanLines();
  timer.lap("fit");

  OutputFile ver, fit, pointFit, pointHigh, pointLow;
  const bool opened =
      ver.open(base + "_fit.ver") && fit.open(base + ".fit") &&
      pointFit.open(QString("%1_fit.%2").arg(base, kind)) &&
      pointHigh.open(QString("%1_high.%2").arg(base, kind)) &&
      pointLow.open(QString("%1_low.%2").arg(base, kind));
  if (!opened) return 1;
  timer.lap("open outputs");
  writeVerFile(ver.buffer, data);
  writeFitFile(fit.buffer, data);
  if (!ver.flush() || !fit.flush()) return 1;
  timer.lap("line outputs");
  if (binary)
    writeBinaryPoints(data, pointFit.buffer, pointHigh.buffer, pointLow.buffer);
  else
    writeTextPoints(data, pointFit.buffer, pointHigh.buffer, pointLow.buffer);
  if (!pointFit.flush() || !pointHigh.flush() || !pointLow.flush()) return 1;
  timer.lap("point outputs");
  for (OutputFile* output : {&ver, &fit, &pointFit, &pointHigh, &pointLow}) {
    if (!output->commit()) return 1;
  }
  timer.lap("commit");
  timer.total();
  std::printf("%d points, %zu scan lines, %zu fitted\n", points,
              data.lineStart.size(), data.lineCol0.size());
  return 0;
}
