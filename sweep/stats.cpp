// The sweep's statistics. The interval for the median needs no assumption about how pass times
// are distributed (they are skewed: a pass can only be slowed down), only that the rounds are
// independent: each value falls below the true median with probability 1/2, so the number
// below it is Binomial(n, 1/2).
#include "sweep/stats.h"

#include <algorithm>
#include <cmath>

double paired_gain(double default_ns, double pinned_ns) {
  return (default_ns - pinned_ns) / default_ns * 100.0;
}

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  std::size_t n = values.size();
  std::sort(values.begin(), values.end());
  if (n % 2 == 1) {
    return values[n / 2];
  }
  return (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

namespace {

// P(B < k) for B ~ Binomial(n, 1/2), for k = 0 … n + 1, from the log of each term so that
// large n neither overflows nor underflows.
std::vector<double> lower_tails(int n) {
  std::vector<double> tails(static_cast<std::size_t>(n) + 2, 0.0);
  double log_half_n = n * std::log(0.5);
  double sum = 0.0;
  for (int i = 0; i <= n; ++i) {
    double log_choose = std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0);
    sum += std::exp(log_choose + log_half_n);
    tails[static_cast<std::size_t>(i) + 1] = sum;
  }
  return tails;
}

}  // namespace

interval median_interval(std::vector<double> values, double confidence) {
  interval ci;
  int n = static_cast<int>(values.size());
  if (n == 0) {
    return ci;
  }
  std::vector<double> tails = lower_tails(n);
  // The larger k, the narrower the interval; coverage falls as k grows.
  for (int k = 1; 2 * k <= n + 1; ++k) {
    double coverage = 1.0 - 2.0 * tails[static_cast<std::size_t>(k)];
    if (coverage < confidence) {
      break;
    }
    ci.valid = true;
    ci.rank = k;
    ci.coverage = coverage;
  }
  if (!ci.valid) {
    return ci;
  }
  std::sort(values.begin(), values.end());
  ci.low = values[static_cast<std::size_t>(ci.rank - 1)];
  ci.high = values[static_cast<std::size_t>(n - ci.rank)];
  return ci;
}

verdict judge(const interval& ci) {
  if (!ci.valid) {
    return verdict::no_clear_difference;
  }
  if (ci.low > 0.0) {
    return verdict::pinned_faster;
  }
  if (ci.high < 0.0) {
    return verdict::pinned_slower;
  }
  return verdict::no_clear_difference;
}

const char* verdict_text(verdict v) {
  switch (v) {
    case verdict::pinned_faster:
      return "pinned faster";
    case verdict::pinned_slower:
      return "pinned slower";
    case verdict::not_pinned:
      return "not pinned";
    case verdict::no_clear_difference:
      break;
  }
  return "no clear difference";
}
