// The report's sigma summary, worked by hand: quartiles by nearest rank,
// the values at ranks ceil(n/4), ceil(n/2) and ceil(3n/4) of the sorted
// sigmas, for every remainder of n by 4; lines without a sigma counted
// apart.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "driver/run_report.h"

namespace {

TEST(SigmaSummary, QuartilesAreTheSigmasAtTheirNearestRanks) {
  const float nan = NAN;
  const struct {
    std::vector<float> sigmas;
    float min, q1, median, q3, max;
  } cases[] = {
      // n = 1: every rank is 1.
      {{2.5f}, 2.5f, 2.5f, 2.5f, 2.5f, 2.5f},
      // n = 4: ranks 1, 2, 3.
      {{4, 1, 3, 2}, 1, 1, 2, 3, 4},
      // n = 5: ranks 2, 3, 4.
      {{0.9f, 0.1f, 0.5f, 0.3f, 0.7f}, 0.1f, 0.3f, 0.5f, 0.7f, 0.9f},
      // n = 6: ranks 2, 3, 5.
      {{6, 1, 5, 2, 4, 3}, 1, 2, 3, 5, 6},
      // n = 7, and two lines without a number: ranks 2, 4, 6.
      {{7, nan, 1, 6, 2, 5, nan, 3, 4}, 1, 2, 4, 6, 7},
  };
  for (const auto& c : cases) {
    const SigmaSummary s = summariseSigma(c.sigmas);
    SCOPED_TRACE(c.sigmas.size());
    EXPECT_EQ(s.count + s.notANumber, std::int64_t(c.sigmas.size()));
    EXPECT_EQ(s.notANumber, c.sigmas.size() == 9 ? 2 : 0);
    EXPECT_EQ(s.min, c.min);
    EXPECT_EQ(s.q1, c.q1);
    EXPECT_EQ(s.median, c.median);
    EXPECT_EQ(s.q3, c.q3);
    EXPECT_EQ(s.max, c.max);
  }
  const SigmaSummary none = summariseSigma({nan});
  EXPECT_EQ(none.count, 0);
  EXPECT_TRUE(std::isnan(none.min) && std::isnan(none.median) && std::isnan(none.max));
}

}  // namespace
