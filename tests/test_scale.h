// How many generated cases the differential tests run. An ordinary build
// runs them all; a build with address and undefined-behaviour checks is
// some ten times slower per step, and a share of the cases still reaches
// every code path while keeping the suite to a few minutes.
#ifndef SCANFIT_TESTS_TEST_SCALE_H_
#define SCANFIT_TESTS_TEST_SCALE_H_

#if defined(__SANITIZE_ADDRESS__)
constexpr int kGeneratedCaseDivisor = 8;
#else
constexpr int kGeneratedCaseDivisor = 1;
#endif

// `count` generated cases, scaled down in checked builds, never below one.
constexpr int generatedCases(int count) {
  return count / kGeneratedCaseDivisor > 0 ? count / kGeneratedCaseDivisor : 1;
}

#endif  // SCANFIT_TESTS_TEST_SCALE_H_
