// The sweep's command line: GNU-style long options, read and checked before any pass runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int MIN_BUFLOG = 17;        // 128 KiB
constexpr int MAX_SWEEP_BUFLOG = 30;  // 1 GiB, the largest the pass supports
constexpr int MIN_ROUNDS = 6;         // fewer cannot give a 95 % interval for the median
constexpr int MAX_ROUNDS = 1000000;
constexpr int DEFAULT_FIRST_BUFLOG = 17;  // the default sizes: L2-resident up to past the
constexpr int DEFAULT_LAST_BUFLOG = 26;   // last-level cache, into memory
constexpr int DEFAULT_ROUNDS = 25;
constexpr std::int32_t DEFAULT_STEPS = 30000000;

struct sweep_options {
  std::vector<int> sizes;  // buflog values, in the order given
  int rounds = DEFAULT_ROUNDS;
  std::int32_t steps = DEFAULT_STEPS;  // steps in every pass
  int probe_cpu = 0;                   // where the pinned pass runs
  int load_cpu = 1;                    // where the load runs
  bool alone = false;                  // also time the pinned pass with the load paused
  std::string csv;                     // "" for none
  std::string json;
  bool help = false;
  bool version = false;
};

// Reads argv into opts. Returns "" when the command line is usable, otherwise the problem in
// one line. Stops at --help or --version, which need nothing else.
std::string parse_options(int argc, const char* const* argv, sweep_options& opts);

// "" when the process may use both the probe and the load processor (allowed is the list of
// those it may use), otherwise the problem in one line.
std::string check_processors(const sweep_options& opts, const std::vector<int>& allowed);

// The --help text.
std::string usage_text();
