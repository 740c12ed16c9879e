// The sweep's statistics: the paired gain of each round, medians, and a distribution-free
// confidence interval for the median gain.
#pragma once

#include <vector>

// The confidence the sweep asks of every interval.
constexpr double CONFIDENCE = 0.95;

// The gain of a pinned pass over the default pass of the same round, in percent of the default
// time: positive when pinning made the pass faster.
double paired_gain(double default_ns, double pinned_ns);

// The median of values (the mean of the middle two for an even count); 0 when empty.
double median(std::vector<double> values);

// An interval for the median built from order statistics: [x(k), x(n+1-k)] of the sorted
// sample, with k the largest rank whose exact coverage 1 - 2 P(B < k), B ~ Binomial(n, 1/2),
// is at least the confidence asked for. It holds whatever the distribution of the values, as
// long as the rounds are independent.
struct interval {
  bool valid = false;  // false when n is too small to reach the confidence at all
  double low = 0.0;
  double high = 0.0;
  double coverage = 0.0;  // the exact coverage, at least the confidence asked for
  int rank = 0;           // k: low is the k-th smallest value, high the k-th largest
};
interval median_interval(std::vector<double> values, double confidence = CONFIDENCE);

enum class verdict { pinned_faster, pinned_slower, no_clear_difference, not_pinned };

// Pinned faster when the whole interval lies above zero, slower when below, otherwise no clear
// difference.
verdict judge(const interval& ci);

const char* verdict_text(verdict v);
