// The sweep's command line: GNU-style long options, read and checked before any pass runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sweep/pairs.h"
#include "sweep/rounds.h"
#include "sweep/stats.h"

constexpr int MIN_BUFLOG = 17;        // 128 KiB
constexpr int MAX_SWEEP_BUFLOG = 30;  // 1 GiB, the largest the pass supports
constexpr int MAX_ROUNDS = 1000000;
constexpr int DEFAULT_FIRST_BUFLOG = 17;  // the default sizes: L2-resident up to past the
constexpr int DEFAULT_LAST_BUFLOG = 26;   // last-level cache, into memory
// The default budget keeps a sweep of the default sizes within a minute, set-up included.
constexpr double DEFAULT_TIME_S = 55.0;
constexpr double MAX_TIME_S = 1000000.0;
constexpr double DEFAULT_MARGIN = 1.0;  // percent
constexpr double MAX_MARGIN = 100.0;
constexpr double MIN_PASS_MS = 0.1;

struct sweep_options {
  std::vector<int> sizes;  // buflog values, in the order given
  int rounds = 0;          // --rounds: exactly this many a size; 0: until decided, within time_s
  std::int32_t steps = 0;  // --steps: steps in every pass; 0: set per size from pass_ms
  double pass_ms = DEFAULT_PASS_MS;
  bool pass_ms_given = false;
  double time_s = DEFAULT_TIME_S;
  bool time_given = false;
  double margin = DEFAULT_MARGIN;          // percent: "same within" it
  double confidence = DEFAULT_CONFIDENCE;  // for the whole sweep at once
  int probe_cpu = 0;                       // where the pinned pass runs
  int load_cpu = 1;                        // where the load runs
  bool cpu_given = false;                  // --probe-cpu or --load-cpu was given
  bool auto_pairs = false;                 // --pairs auto
  std::vector<cpu_pair> pairs;             // --pairs LIST; empty for the one pair above
  bool alone = false;                      // also time the pinned pass with the load paused
  bool null_run = false;  // both passes of a round pinned alike: the true gain is 0
  std::string csv;        // "" for none
  std::string json;
  bool help = false;
  bool version = false;
};

// Reads argv into opts. Returns "" when the command line is usable, otherwise the problem in
// one line. Stops at --help or --version, which need nothing else.
std::string parse_options(int argc, const char* const* argv, sweep_options& opts);

// The error probability of the whole sweep, 1 - confidence, and each size's share of it: the
// family's split evenly among the units measured (Bonferroni), so that the confidence holds for
// every size at once.
double family_alpha(const sweep_options& opts);
double size_alpha(const sweep_options& opts, int units);

// "" when --rounds, if given, can reach each size's confidence at all, otherwise the problem in
// one line, naming the least number of rounds that can.
std::string check_rounds(const sweep_options& opts, int units);

// "" when the process may use both processors of every pair (allowed is the list of those it may
// use), otherwise the problem in one line, naming the option that asked for it: --probe-cpu or
// --load-cpu for the one pair they give (listed false), --pairs otherwise.
std::string check_pairs(const std::vector<cpu_pair>& pairs, const std::vector<int>& allowed,
                        bool listed);

// The --help text.
std::string usage_text();
