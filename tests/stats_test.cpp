// The sweep's statistics: the interval for the median against binomial sums worked out by hand
// (P(B < k) for B ~ Binomial(n, 1/2) is the sum of C(n, i) / 2^n for i < k), and the verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "sweep/stats.h"

namespace {

// 1 .. n in a shuffled order, so the interval's ends are its ranks.
std::vector<double> shuffled(int n) {
  std::vector<double> v;
  for (int i = 1; i <= n; ++i) {
    v.push_back(i);
  }
  std::shuffle(v.begin(), v.end(), std::mt19937(n));
  return v;
}

TEST(MedianInterval, RanksAndExactCoverage) {
  const struct {
    int n;
    int rank;         // the interval is [x(rank), x(n + 1 - rank)]
    double coverage;  // 1 - 2 * (sum of C(n, i), i < rank) / 2^n
  } cases[] = {
      {6, 1, 1.0 - 2.0 * 1 / 64},  // the smallest n: the whole range
      {7, 1, 1.0 - 2.0 * 1 / 128},      {10, 2, 1.0 - 2.0 * 11 / 1024},
      {15, 4, 1.0 - 2.0 * 576 / 32768}, {20, 6, 1.0 - 2.0 * 21700 / 1048576},
      {100, 40, 0.9647997997822952},  // from exact integer sums
  };
  for (const auto& c : cases) {
    interval ci = median_interval(shuffled(c.n));
    ASSERT_TRUE(ci.valid) << "n " << c.n;
    EXPECT_EQ(ci.rank, c.rank) << "n " << c.n;
    EXPECT_DOUBLE_EQ(ci.low, c.rank) << "n " << c.n;
    EXPECT_DOUBLE_EQ(ci.high, c.n + 1 - c.rank) << "n " << c.n;
    EXPECT_NEAR(ci.coverage, c.coverage, 1e-12) << "n " << c.n;
    EXPECT_GE(ci.coverage, 0.95);
  }
}

TEST(MedianInterval, TooFewValuesGiveNone) {
  // Five values reach at most 1 - 2/32 = 93.75 %.
  for (int n : {0, 1, 5}) {
    EXPECT_FALSE(median_interval(shuffled(n)).valid) << "n " << n;
  }
}

TEST(Median, OddEvenAndTies) {
  EXPECT_DOUBLE_EQ(median({3.0, 1.0, 2.0}), 2.0);
  EXPECT_DOUBLE_EQ(median({4.0, 1.0, 3.0, 2.0}), 2.5);
  EXPECT_DOUBLE_EQ(median({-1.0, -1.0, 5.0}), -1.0);
}

TEST(Judge, WhereTheIntervalLies) {
  const struct {
    double low, high;
    verdict expected;
  } cases[] = {
      {0.5, 2.0, verdict::pinned_faster},
      {-3.0, -0.1, verdict::pinned_slower},
      {-0.5, 0.5, verdict::no_clear_difference},
      {0.0, 1.0, verdict::no_clear_difference},  // touching zero is no evidence
      {-1.0, 0.0, verdict::no_clear_difference},
  };
  for (const auto& c : cases) {
    interval ci;
    ci.valid = true;
    ci.low = c.low;
    ci.high = c.high;
    EXPECT_EQ(judge(ci), c.expected) << "[" << c.low << ", " << c.high << "]";
  }
  EXPECT_EQ(judge(interval{}), verdict::no_clear_difference);
  EXPECT_DOUBLE_EQ(paired_gain(10.0, 8.0), 20.0);
  EXPECT_DOUBLE_EQ(paired_gain(8.0, 10.0), -25.0);
}

}  // namespace
