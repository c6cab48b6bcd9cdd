// Warming pages is advice to the kernel: whatever it is asked to warm, the
// memory keeps its contents, and a warmer stops cleanly at any point.
#include "scan/page_warmer.h"
#include "scan/scan_data.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
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

// Finishing does not wait for a backlog: what is not warm yet is dropped,
// and those pages fault in when they are first written, as without a warmer.
TEST(PageWarmer, FinishDropsWhatIsNotWarmYet) {
  const std::size_t bytes = std::size_t(256) << 20;
  void* const region = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(region, MAP_FAILED);
  PageWarmer warmer;
  warmer.warm({{region, bytes}});
  warmer.finish();
  std::vector<unsigned char> resident(bytes / 4096);
  ASSERT_EQ(mincore(region, bytes, resident.data()), 0);
  const auto warmed = std::count_if(resident.begin(), resident.end(),
                                    [](unsigned char page) { return page & 1; });
  EXPECT_LT(warmed, static_cast<long>(resident.size() / 2));
  static_cast<char*>(region)[bytes - 1] = 7;  // still writable
  munmap(region, bytes);
}

}  // namespace
