// The sweep's statistics: both intervals' ranks against values worked out independently, the
// confidence sequence's promise (never leaving the median at any round, but with probability
// alpha) computed exactly, and the verdicts with their margin.
#include <gtest/gtest.h>

#include <algorithm>

#include "sweep/stats.h"

namespace {

// 1 .. n, sorted: the interval's ends are its ranks.
std::vector<double> sorted_ranks(int n) {
  std::vector<double> v;
  for (int i = 1; i <= n; ++i) {
    v.push_back(i);
  }
  return v;
}

TEST(FixedSample, RanksAndExactCoverage) {
  const struct {
    int n;
    double alpha;
    int rank;         // the interval is [x(rank), x(n + 1 - rank)]
    double coverage;  // 1 - 2 * (sum of C(n, i), i < rank) / 2^n
  } cases[] = {
      {6, 0.05, 1, 1.0 - 2.0 * 1 / 64},  // the smallest n for 95 %: the whole range
      {7, 0.05, 1, 1.0 - 2.0 * 1 / 128},
      {10, 0.05, 2, 1.0 - 2.0 * 11 / 1024},
      {20, 0.05, 6, 1.0 - 2.0 * 21700 / 1048576},
      {100, 0.05, 40, 0.9647997997822952},  // from exact integer sums
      {9, 0.005, 1, 1.0 - 2.0 * 1 / 512},   // the smallest n for 99.5 %
      {20, 0.005, 4, 1.0 - 2.0 * 1351 / 1048576},
  };
  for (const auto& c : cases) {
    interval ci = interval_of_sorted(sorted_ranks(c.n), c.alpha, interval_kind::fixed_sample);
    ASSERT_TRUE(ci.valid) << "n " << c.n;
    EXPECT_EQ(ci.rank, c.rank) << "n " << c.n;
    EXPECT_DOUBLE_EQ(ci.low, c.rank) << "n " << c.n;
    EXPECT_DOUBLE_EQ(ci.high, c.n + 1 - c.rank) << "n " << c.n;
    EXPECT_NEAR(ci.coverage, c.coverage, 1e-12) << "n " << c.n;
    EXPECT_GE(ci.coverage, 1.0 - c.alpha);
  }
  // Too few rounds reach no interval at all: 5 give at most 1 - 2/32 = 93.75 %.
  EXPECT_FALSE(interval_of_sorted(sorted_ranks(5), 0.05, interval_kind::fixed_sample).valid);
  EXPECT_FALSE(interval_of_sorted({}, 0.05, interval_kind::fixed_sample).valid);
}

TEST(FixedSample, LeastRounds) {
  // 2^(1 - n) <= alpha: n = 6 for 0.05, 8 for 0.01, 9 for 0.005 (ten sizes at 95 %).
  EXPECT_EQ(least_fixed_rounds(0.05), 6);
  EXPECT_EQ(least_fixed_rounds(0.01), 8);
  EXPECT_EQ(least_fixed_rounds(0.005), 9);
  EXPECT_EQ(least_fixed_rounds(0.05 / 3), 7);
}

TEST(ConfidenceSequence, Ranks) {
  // The least s with 2^n B(s + a, n - s + a) / B(a, a) < 1 / alpha, found with exact rational
  // arithmetic (B(x, y) = (x - 1)! (y - 1)! / (x + y - 1)! for whole x and y).
  const struct {
    int n;
    double alpha;
    double a;
    int rank;
  } cases[] = {
      {5, 0.05, 2, 0},  // unbounded: even s = 0 stays below 1 / alpha
      {10, 0.05, 2, 1},   {20, 0.05, 2, 4},      {20, 0.005, 2, 2},     {100, 0.05, 2, 35},
      {100, 0.05, 1, 35}, {1000, 0.005, 2, 437}, {1000, 0.005, 5, 439}, {2000, 0.05, 2, 922},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sequence_rank(c.n, c.alpha, c.a), c.rank) << "n " << c.n << " alpha " << c.alpha;
  }
  interval ci = interval_of_sorted(sorted_ranks(1000), 0.005, interval_kind::sequence);
  ASSERT_TRUE(ci.valid);
  EXPECT_DOUBLE_EQ(ci.low, 437);
  EXPECT_DOUBLE_EQ(ci.high, 564);
  EXPECT_DOUBLE_EQ(ci.coverage, 0.995);
  EXPECT_FALSE(interval_of_sorted(sorted_ranks(5), 0.05, interval_kind::sequence).valid);
}

// The exact probability that an interval of the given ranks, looked at after every one of
// rounds rounds, ever leaves out the true median. At the median the count S of gains at or below
// it is a Binomial(n, 1/2) walk; the interval [x(k), x(n+1-k)] leaves the median out exactly when
// S < k or S > n - k, where the walk is absorbed.
template <typename rank_of>
double ever_excluded(int rounds, rank_of rank) {
  std::vector<double> mass{1.0};  // P(S = s, never excluded so far)
  double excluded = 0.0;
  for (int n = 1; n <= rounds; ++n) {
    std::vector<double> next(static_cast<std::size_t>(n) + 1, 0.0);
    for (std::size_t s = 0; s < mass.size(); ++s) {
      next[s] += mass[s] / 2;
      next[s + 1] += mass[s] / 2;
    }
    int k = rank(n);
    for (int s = 0; s <= n; ++s) {
      if (s < k || s > n - k) {
        excluded += next[static_cast<std::size_t>(s)];
        next[static_cast<std::size_t>(s)] = 0.0;
      }
    }
    mass.swap(next);
  }
  return excluded;
}

TEST(ConfidenceSequence, HoldsAtEveryRoundWhereTheFixedIntervalDoesNot) {
  const int rounds = 2000;
  for (double alpha : {0.05, 0.005}) {
    double sequence = ever_excluded(rounds, [alpha](int n) { return sequence_rank(n, alpha); });
    double fixed = ever_excluded(rounds, [alpha](int n) { return fixed_rank(n, alpha); });
    EXPECT_LE(sequence, alpha) << "alpha " << alpha;
    // The same computation shows optional stopping: acted on after every round, the fixed-sample
    // interval misses the median several times as often as it claims.
    EXPECT_GT(fixed, 5 * alpha) << "alpha " << alpha;
    // 0.0386 and 0.00387: the sequence is not needlessly wide either.
    EXPECT_GT(sequence, 0.7 * alpha) << "alpha " << alpha;
  }
}

TEST(Median, OddEvenAndTies) {
  EXPECT_DOUBLE_EQ(median({3.0, 1.0, 2.0}), 2.0);
  EXPECT_DOUBLE_EQ(median({4.0, 1.0, 3.0, 2.0}), 2.5);
  EXPECT_DOUBLE_EQ(median({-1.0, -1.0, 5.0}), -1.0);
  EXPECT_DOUBLE_EQ(median({}), 0.0);
  EXPECT_DOUBLE_EQ(paired_gain(10.0, 8.0), 20.0);
  EXPECT_DOUBLE_EQ(paired_gain(8.0, 10.0), -25.0);
}

TEST(Judge, TheStoppingRuleAndTheVerdicts) {
  const struct {
    bool bounded;
    double low, high;
    verdict expected;
  } cases[] = {
      {true, -0.4, 0.7, verdict::same},            // inside the margin
      {true, 0.2, 0.9, verdict::same},             // inside it, though above 0: same comes first
      {true, -0.9, -0.1, verdict::same},           // likewise below
      {true, 0.3, 1.5, verdict::pinned_faster},    // above 0, reaching past the margin
      {true, 2.0, 9.0, verdict::pinned_faster},    // above the margin
      {true, -3.0, -0.1, verdict::pinned_slower},  // below 0
      {true, -0.5, 1.2, verdict::undecided},       // straddles 0 and the margin
      {true, -1.0, 0.5, verdict::undecided},       // touching the margin is not inside it
      {true, 0.0, 1.5, verdict::undecided},        // touching 0 is no evidence
      {true, -4.0, 4.0, verdict::undecided},
      {false, 0.0, 0.0, verdict::undecided},  // too few rounds: no bounded interval yet
  };
  for (const auto& c : cases) {
    interval ci;
    ci.valid = c.bounded;
    ci.low = c.low;
    ci.high = c.high;
    verdict v = judge(ci, 1.0);
    EXPECT_EQ(v, c.expected) << "[" << c.low << ", " << c.high << "]";
    EXPECT_EQ(decided(v), c.expected != verdict::undecided)
        << "[" << c.low << ", " << c.high << "]";
  }
  interval wide;
  wide.valid = true;
  wide.low = -2.0;
  wide.high = 2.5;
  EXPECT_EQ(judge(wide, 3.0), verdict::same) << "a wider margin";
  EXPECT_FALSE(decided(verdict::not_pinned));
  EXPECT_FALSE(decided(verdict::interrupted));
}

TEST(VerdictText, TheWordsScriptsRead) {
  EXPECT_EQ(verdict_text(verdict::same, 1.0), "same within 1 %");
  EXPECT_EQ(verdict_text(verdict::same, 0.5), "same within 0.5 %");
  EXPECT_EQ(verdict_text(verdict::same, 2.25), "same within 2.25 %");
  EXPECT_EQ(verdict_text(verdict::pinned_faster, 1.0), "pinned faster");
  EXPECT_EQ(verdict_text(verdict::pinned_slower, 1.0), "pinned slower");
  EXPECT_EQ(verdict_text(verdict::undecided, 1.0), "undecided");
  EXPECT_EQ(verdict_text(verdict::not_pinned, 1.0), "not pinned");
  EXPECT_EQ(verdict_text(verdict::interrupted, 1.0), "interrupted");
}

}  // namespace
