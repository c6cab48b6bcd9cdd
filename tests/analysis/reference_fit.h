// A second, deliberately plain rendering of the scan-line fit, used as the
// expected values for arbitrary data. It follows the method step by step
// with whole-line arrays and no attention to speed, so it shares no code
// and little shape with the production fit.
#ifndef SCANFIT_TESTS_ANALYSIS_REFERENCE_FIT_H_
#define SCANFIT_TESTS_ANALYSIS_REFERENCE_FIT_H_

#include <vector>

#include "scan/scan_data.h"

struct ReferenceResults {
  std::vector<float> lineCol0, lineSlope, lineIntercept, lineSigma;
  std::vector<float> distance, residual, pointSigma;  // one per point
};

// Expected fit results for data whose lineStart is built but not yet fitted.
ReferenceResults referenceFit(const ScanData& data);

#endif  // SCANFIT_TESTS_ANALYSIS_REFERENCE_FIT_H_
