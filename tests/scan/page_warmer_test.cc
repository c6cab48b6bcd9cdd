// Warming pages is advice to the kernel: whatever it is asked to warm, the
// memory keeps its contents, and a warmer stops cleanly at any point.
#include "scan/page_warmer.h"
#include "scan/scan_data.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

TEST(PageWarmer, WarmedMemoryKeepsWhatItHolds) {
  std::vector<float> column(300000);
  std::iota(column.begin(), column.end(), 1.0f);
  column.reserve(1000000);  // a tail of fresh pages beyond the values
  const std::vector<float> expected = column;
  PageWarmer warmer;
  warmer.warm({{column.data(), column.capacity() * sizeof(float)},
               {column.data() + 7, 4096 * 3 + 5}});
  warmer.finish();
  EXPECT_TRUE(column == expected);
  warmer.warm({{column.data(), 4096}});  // after finish: ignored
  warmer.finish();
}

TEST(PageWarmer, ColumnsWarmedBeforeAReadAreFilledAsUsual) {
  ScanData data;
  data.reservePoints(100000);
  data.warmColumns(50000);
  data.warmColumns(40000);  // behind what is warm already: nothing to do
  for (int i = 0; i < 60000; ++i) {
    data.col0.push_back(float(i));
    data.sweepIndex.push_back(short(i % 200));
  }
  data.segmentScanLines();
  EXPECT_EQ(data.col0[59999], 59999.0f);
  EXPECT_EQ(data.lineStart.size(), 300u);
  EXPECT_EQ(data.residual, std::vector<float>(60000, 0.0f));
}

// A warmer never started, or destroyed with work queued, ends cleanly.
TEST(PageWarmer, EndsCleanlyWhenIdleOrBusy) {
  { PageWarmer idle; }
  std::vector<char> region(std::size_t(8) << 20);
  PageWarmer busy;
  busy.warm({{region.data(), region.size()}});
}

}  // namespace
