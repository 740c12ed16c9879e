// The sweep's statistics. Both intervals for the median rest on one fact: at the true median,
// the number of independent gains at or below it is Binomial(n, 1/2), whatever their
// distribution (pass times are skewed: a pass can only be slowed down).
#include "sweep/stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double paired_gain(double default_ns, double pinned_ns) {
  return (default_ns - pinned_ns) / default_ns * 100.0;
}

double median_of_sorted(const std::vector<double>& sorted) {
  std::size_t n = sorted.size();
  if (n == 0) {
    return 0.0;
  }
  if (n % 2 == 1) {
    return sorted[n / 2];
  }
  return (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return median_of_sorted(values);
}

const char* interval_id(interval_kind kind) {
  return kind == interval_kind::sequence ? "confidence_sequence" : "fixed_sample";
}

const char* interval_text(interval_kind kind) {
  return kind == interval_kind::sequence
             ? "confidence sequence, valid at every round however the sweep stops"
             : "fixed-sample interval, valid for the number of rounds set in advance";
}

namespace {

// log P(B = i) for B ~ Binomial(n, 1/2), from logarithms so that large n neither overflows nor
// underflows.
double log_binomial_half(int n, int i) {
  return std::lgamma(n + 1.0) - std::lgamma(i + 1.0) - std::lgamma(n - i + 1.0) + n * std::log(0.5);
}

// log M_n for s gains at or below the candidate: n log 2 + log B(s + a, n - s + a) - log B(a, a).
double log_mixture(int n, int s, double a) {
  double log_beta = std::lgamma(s + a) + std::lgamma(n - s + a) - std::lgamma(n + 2.0 * a);
  double log_beta_prior = 2.0 * std::lgamma(a) - std::lgamma(2.0 * a);
  return n * std::log(2.0) + log_beta - log_beta_prior;
}

}  // namespace

double fixed_coverage(int n, int k) {
  double below = 0.0;  // P(B < k)
  for (int i = 0; i < k; ++i) {
    below += std::exp(log_binomial_half(n, i));
  }
  return 1.0 - 2.0 * below;
}

int fixed_rank(int n, double alpha) {
  // The larger k, the narrower the interval and the lower its coverage.
  int rank = 0;
  double below = 0.0;
  for (int k = 1; 2 * k <= n + 1; ++k) {
    below += std::exp(log_binomial_half(n, k - 1));
    if (1.0 - 2.0 * below < 1.0 - alpha) {
      break;
    }
    rank = k;
  }
  return rank;
}

int least_fixed_rounds(double alpha) {
  // [x(1), x(n)] covers 1 - 2^(1-n): the first n where that reaches 1 - alpha.
  int n = 1;
  while (1.0 - std::ldexp(1.0, 1 - n) < 1.0 - alpha) {
    ++n;
  }
  return n;
}

int sequence_rank(int n, double alpha, double a) {
  // M_n falls as s moves towards n / 2, so the least s below the bound is found by bisection:
  // a few evaluations a round, however many rounds there are.
  const double bound = std::log(1.0 / alpha);
  int lo = 0;
  int hi = n / 2;
  if (log_mixture(n, hi, a) >= bound) {
    return hi;  // never for a valid alpha: M_n at the middle is at most 1
  }
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (log_mixture(n, mid, a) < bound) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

interval interval_of_sorted(const std::vector<double>& sorted, double alpha, interval_kind kind) {
  interval ci;
  int n = static_cast<int>(sorted.size());
  if (n == 0) {
    return ci;
  }
  if (kind == interval_kind::sequence) {
    ci.rank = sequence_rank(n, alpha);
    ci.coverage = 1.0 - alpha;
  } else {
    ci.rank = fixed_rank(n, alpha);
    ci.coverage = fixed_coverage(n, ci.rank);
  }
  if (ci.rank < 1) {
    return ci;
  }
  ci.valid = true;
  ci.low = sorted[static_cast<std::size_t>(ci.rank - 1)];
  ci.high = sorted[static_cast<std::size_t>(n - ci.rank)];
  return ci;
}

verdict judge(const interval& ci, double margin) {
  if (!ci.valid) {
    return verdict::undecided;
  }
  if (-margin < ci.low && ci.high < margin) {
    return verdict::same;
  }
  if (ci.low > 0.0) {
    return verdict::pinned_faster;
  }
  if (ci.high < 0.0) {
    return verdict::pinned_slower;
  }
  return verdict::undecided;
}

bool decided(verdict v) {
  return v == verdict::same || v == verdict::pinned_faster || v == verdict::pinned_slower;
}

std::string verdict_text(verdict v, double margin) {
  switch (v) {
    case verdict::same: {
      char text[48];
      std::snprintf(text, sizeof text, "same within %g %%", margin);
      return text;
    }
    case verdict::pinned_faster:
      return "pinned faster";
    case verdict::pinned_slower:
      return "pinned slower";
    case verdict::not_pinned:
      return "not pinned";
    case verdict::interrupted:
      return "interrupted";
    case verdict::undecided:
      break;
  }
  return "undecided";
}
