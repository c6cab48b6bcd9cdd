#include "plain_fit.h"

#include <vector>

#include "analysis/scan_fit.h"

void fitScanLines(ScanData& data) {
  std::vector<LinePlan> plans;
  planScanLines(data, plans);
  float threshold = kInitialThreshold;
  carryThreshold(plans, threshold);
  finishScanLines(data, plans);
}

std::string textOf(const RowBlock& rows) {
  return std::string(rows.bytes.get(), rows.size);
}
