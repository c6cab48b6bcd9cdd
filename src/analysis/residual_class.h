// The one rule that splits points by their residual against their scan
// line's fit: near the line (fit), far above it (high), far below (low).
// Both point writers apply it.
#ifndef SCANFIT_ANALYSIS_RESIDUAL_CLASS_H_
#define SCANFIT_ANALYSIS_RESIDUAL_CLASS_H_

#include <cstdint>

enum class ResidualClass { Fit, High, Low, Unclassified };

// -50 and 5 belong to the fit set; a NaN residual satisfies no comparison
// and goes nowhere.
inline ResidualClass classifyResidual(float r) {
  if (r >= -50.0f && r <= 5.0f) return ResidualClass::Fit;
  if (r > 5.0f) return ResidualClass::High;
  if (r < -50.0f) return ResidualClass::Low;
  return ResidualClass::Unclassified;
}

// Points per class.
struct ClassCounts {
  std::int64_t fit = 0;
  std::int64_t high = 0;
  std::int64_t low = 0;
  std::int64_t unclassified = 0;

  void add(ResidualClass c) {
    switch (c) {
      case ResidualClass::Fit: ++fit; break;
      case ResidualClass::High: ++high; break;
      case ResidualClass::Low: ++low; break;
      case ResidualClass::Unclassified: ++unclassified; break;
    }
  }
  void add(const ClassCounts& o) {
    fit += o.fit;
    high += o.high;
    low += o.low;
    unclassified += o.unclassified;
  }
};

#endif  // SCANFIT_ANALYSIS_RESIDUAL_CLASS_H_
