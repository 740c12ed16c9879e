// The sweep's statistics: the paired gain of each round, medians, the two distribution-free
// intervals for the median gain (one for a fixed number of rounds, one valid however the sweep
// decides when to stop), and the verdict that an interval supports.
#pragma once

#include <string>
#include <vector>

// The confidence of the whole sweep unless asked otherwise: it holds for every size at once.
constexpr double DEFAULT_CONFIDENCE = 0.95;

// The a of the Beta(a, a) mixture behind the confidence sequence. Larger values tighten it for
// long runs and loosen it for short ones; from a few hundred to a few thousand rounds, the range a
// sweep of short passes reaches, the ranks hardly depend on it (at 1,000 rounds and alpha 0.005,
// a = 1, 2 and 5 give ranks 435, 437 and 439).
constexpr double MIXTURE_A = 2.0;

// The gain of a pinned pass over the default pass of the same round, in percent of the default
// time: positive when pinning made the pass faster.
double paired_gain(double default_ns, double pinned_ns);

// The median of values (the mean of the middle two for an even count); 0 when empty.
double median(std::vector<double> values);
double median_of_sorted(const std::vector<double>& sorted);

// Which interval a sweep uses. A fixed-sample interval is valid only for a number of rounds set
// in advance: looked at after every round and acted on, it excludes the true median far more often
// than it says. A confidence sequence holds at every round at once, so the sweep may stop as soon
// as it is decided.
enum class interval_kind { fixed_sample, sequence };

// "fixed_sample" or "confidence_sequence", as the JSON names them, and the header's words.
const char* interval_id(interval_kind kind);
const char* interval_text(interval_kind kind);

// Both intervals are [x(k), x(n+1-k)] of the sorted gains, with a rank k that depends on n and
// alpha alone. Each value falls below the true median with probability 1/2 (the rounds being
// independent; nothing is assumed of their distribution), so the count below it is
// Binomial(n, 1/2).
//
// Fixed sample: the largest k whose exact coverage 1 - 2 P(B < k), B ~ Binomial(n, 1/2), is at
// least 1 - alpha; 0 when even [x(1), x(n)] falls short.
int fixed_rank(int n, double alpha);
// 1 - 2 P(B < k): the exact coverage of the fixed-sample interval of rank k.
double fixed_coverage(int n, int k);
// The least n whose fixed-sample interval reaches 1 - alpha at all.
int least_fixed_rounds(double alpha);

// Confidence sequence: for a candidate median theta with S gains at or below it, the mixture
// martingale M_n = 2^n B(S + a, n - S + a) / B(a, a) is a test martingale at the true median, so
// by Ville's inequality the thetas with M_n < 1/alpha hold the median at every n at once with
// probability at least 1 - alpha. They form the interval [x(k), x(n+1-k)] with k the least S for
// which M_n < 1/alpha; 0 when S = 0 already qualifies (the interval is then unbounded).
int sequence_rank(int n, double alpha, double a = MIXTURE_A);

struct interval {
  bool valid = false;  // bounded: enough rounds for a rank of at least 1
  double low = 0.0;
  double high = 0.0;
  // The fixed-sample interval's exact coverage, or the confidence sequence's guarantee 1 - alpha,
  // which holds at every round at once.
  double coverage = 0.0;
  int rank = 0;  // k: low is the k-th smallest gain, high the k-th largest
};

// The interval of the given kind for sorted gains.
interval interval_of_sorted(const std::vector<double>& sorted, double alpha, interval_kind kind);

enum class verdict { same, pinned_faster, pinned_slower, undecided, not_pinned, interrupted };

// What an interval supports, with an equivalence margin in percent: same when the whole interval
// lies strictly inside (-margin, +margin); otherwise pinned faster when it lies above 0, slower
// when below; otherwise undecided (also when the interval is unbounded).
verdict judge(const interval& ci, double margin);

// True for the verdicts that end a size's rounds: same, pinned faster and pinned slower.
bool decided(verdict v);

// The verdict's words, which scripts read: "same within 1 %" (the margin as %g), "pinned
// faster", "pinned slower", "undecided", "not pinned", "interrupted".
std::string verdict_text(verdict v, double margin);
