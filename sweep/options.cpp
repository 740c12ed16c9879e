// Reading the sweep's command line. Every refusal names its problem in one line; the caller
// prints it and exits with status 2 before anything is measured.
#include "sweep/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sweep/rounds.h"
#include "sweep/stats.h"

namespace {

// A decimal number of digits only (no sign, no blanks), within lo … hi. False otherwise.
bool read_number(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty() || text.size() > 18) {
    return false;
  }
  long long value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') {
      return false;
    }
    value = value * 10 + (ch - '0');
  }
  if (value < lo || value > hi) {
    return false;
  }
  out = value;
  return true;
}

std::string size_range_text() {
  return "each size is a buflog from " + std::to_string(MIN_BUFLOG) + " to " +
         std::to_string(MAX_SWEEP_BUFLOG);
}

// "17-24", "17,21,24" or a mix such as "17-19,24".
std::string read_sizes(const std::string& text, std::vector<int>& sizes) {
  sizes.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    std::size_t dash = item.find('-');
    long long lo = 0;
    long long hi = 0;
    bool ok = dash == std::string::npos
                  ? read_number(item, MIN_BUFLOG, MAX_SWEEP_BUFLOG, lo)
                  : read_number(item.substr(0, dash), MIN_BUFLOG, MAX_SWEEP_BUFLOG, lo) &&
                        read_number(item.substr(dash + 1), MIN_BUFLOG, MAX_SWEEP_BUFLOG, hi);
    if (!ok) {
      return "--sizes: '" + item + "' is not a size or a range of sizes; " + size_range_text();
    }
    if (dash == std::string::npos) {
      hi = lo;
    }
    if (lo > hi) {
      return "--sizes: the range '" + item + "' runs backwards";
    }
    for (long long lg = lo; lg <= hi; ++lg) {
      if (std::find(sizes.begin(), sizes.end(), lg) != sizes.end()) {
        return "--sizes: size " + std::to_string(lg) + " is given twice";
      }
      sizes.push_back(static_cast<int>(lg));
    }
    if (comma == std::string::npos) {
      return "";
    }
    start = comma + 1;
  }
}

// A positive decimal number such as 50, 0.5 or 2.25 (digits and at most one point; no sign or
// exponent, so that what the user reads back is what was meant), at most hi.
bool read_decimal(const std::string& text, double hi, double& out) {
  std::size_t digits = 0;
  std::size_t points = 0;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      ++digits;
    } else if (ch == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1 || text.size() > 24) {
    return false;
  }
  double value = std::strtod(text.c_str(), nullptr);
  if (!(value > 0.0) || value > hi) {
    return false;
  }
  out = value;
  return true;
}

bool takes_value(const std::string& name) {
  static const char* const names[] = {"sizes",    "rounds", "steps",      "pass-ms",
                                      "time",     "margin", "confidence", "probe-cpu",
                                      "load-cpu", "pairs",  "csv",        "json"};
  for (const char* n : names) {
    if (name == n) {
      return true;
    }
  }
  return false;
}

std::string decimal_problem(const std::string& name, const std::string& value,
                            const std::string& range) {
  return "--" + name + ": '" + value + "' is not " + range;
}

// Applies one option that takes a value.
std::string apply(const std::string& name, const std::string& value, sweep_options& opts) {
  long long n = 0;
  if (name == "sizes") {
    return read_sizes(value, opts.sizes);
  }
  if (name == "rounds") {
    if (!read_number(value, 1, MAX_ROUNDS, n)) {
      return "--rounds: '" + value + "' is not a whole number from 1 to " +
             std::to_string(MAX_ROUNDS);
    }
    opts.rounds = static_cast<int>(n);
  } else if (name == "steps") {
    if (!read_number(value, 1, 2147483647, n)) {
      return "--steps: '" + value + "' is not a whole number from 1 to 2147483647";
    }
    opts.steps = static_cast<std::int32_t>(n);
  } else if (name == "pass-ms") {
    if (!read_decimal(value, MAX_PASS_MS, opts.pass_ms) || opts.pass_ms < MIN_PASS_MS) {
      return decimal_problem(name, value, "a number of milliseconds from 0.1 to 10000");
    }
    opts.pass_ms_given = true;
  } else if (name == "time") {
    if (!read_decimal(value, MAX_TIME_S, opts.time_s)) {
      return decimal_problem(name, value, "a positive number of seconds, at most 1000000");
    }
    opts.time_given = true;
  } else if (name == "margin") {
    if (!read_decimal(value, MAX_MARGIN, opts.margin)) {
      return decimal_problem(name, value, "a positive percentage, at most 100");
    }
  } else if (name == "confidence") {
    double c = 0.0;
    if (!read_decimal(value, 1.0, c) || !(c < 1.0)) {
      return decimal_problem(name, value, "a fraction between 0 and 1, such as 0.95");
    }
    opts.confidence = c;
  } else if (name == "probe-cpu" || name == "load-cpu") {
    if (!read_number(value, 0, 1000000, n)) {
      return "--" + name + ": '" + value + "' is not a processor number";
    }
    (name == "probe-cpu" ? opts.probe_cpu : opts.load_cpu) = static_cast<int>(n);
    opts.cpu_given = true;
  } else if (name == "pairs") {
    opts.auto_pairs = value == "auto";
    opts.pairs.clear();
    if (!opts.auto_pairs) {
      return read_pairs(value, &opts.pairs);
    }
  } else if (value.empty()) {
    return "--" + name + ": the file name is empty";
  } else {
    (name == "csv" ? opts.csv : opts.json) = value;
  }
  return "";
}

}  // namespace

std::string parse_options(int argc, const char* const* argv, sweep_options& opts) {
  opts = sweep_options{};
  for (int lg = DEFAULT_FIRST_BUFLOG; lg <= DEFAULT_LAST_BUFLOG; ++lg) {
    opts.sizes.push_back(lg);
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) {
      return "unexpected argument '" + arg + "'; options start with --";
    }
    std::size_t eq = arg.find('=');
    std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
    if (name == "help" || name == "version") {
      if (eq != std::string::npos) {
        return "--" + name + " takes no value";
      }
      (name == "help" ? opts.help : opts.version) = true;
      return "";
    }
    if (name == "alone" || name == "null") {
      if (eq != std::string::npos) {
        return "--" + name + " takes no value";
      }
      (name == "alone" ? opts.alone : opts.null_run) = true;
      continue;
    }
    if (!takes_value(name)) {
      return "unknown option '--" + name + "'";
    }
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return "--" + name + " needs a value";
    }
    std::string problem = apply(name, value, opts);
    if (!problem.empty()) {
      return problem;
    }
  }
  if ((opts.auto_pairs || !opts.pairs.empty()) && opts.cpu_given) {
    return "--pairs does not go with --probe-cpu or --load-cpu: give every pair in --pairs";
  }
  if (opts.steps > 0 && opts.pass_ms_given) {
    return "--steps and --pass-ms do not go together: each sets the length of a pass";
  }
  if (opts.rounds > 0 && opts.time_given) {
    return "--rounds and --time do not go together: --rounds runs exactly that many rounds a "
           "size, --time stops each size once it is decided";
  }
  if (!opts.csv.empty() && opts.csv == opts.json) {
    return "--csv and --json name the same file";
  }
  return "";
}

double family_alpha(const sweep_options& opts) {
  return 1.0 - opts.confidence;
}

double size_alpha(const sweep_options& opts, int units) {
  return family_alpha(opts) / std::max(units, 1);
}

std::string check_rounds(const sweep_options& opts, int units) {
  if (opts.rounds == 0) {
    return "";
  }
  int least = least_fixed_rounds(size_alpha(opts, units));
  if (opts.rounds >= least) {
    return "";
  }
  char reach[96];
  std::snprintf(reach, sizeof reach, "%g %% for each of %d %s (%g %% for all at once)",
                100.0 * (1.0 - size_alpha(opts, units)), units, units == 1 ? "size" : "sizes",
                100.0 * opts.confidence);
  return "--rounds: " + std::to_string(opts.rounds) + " rounds cannot reach " + reach +
         "; give at least " + std::to_string(least);
}

std::string check_pairs(const std::vector<cpu_pair>& pairs, const std::vector<int>& allowed,
                        bool listed) {
  for (const cpu_pair& pair : pairs) {
    const struct {
      const char* option;
      int cpu;
    } wanted[] = {{"--probe-cpu", pair.probe}, {"--load-cpu", pair.load}};
    for (const auto& w : wanted) {
      // Pinning takes a 64-bit mask, so processors past 63 cannot be asked for.
      if (w.cpu <= MAX_PAIR_CPU &&
          std::find(allowed.begin(), allowed.end(), w.cpu) != allowed.end()) {
        continue;
      }
      std::string where =
          listed ? " (in " + std::to_string(pair.probe) + ":" + std::to_string(pair.load) + ")"
                 : "";
      return std::string(listed ? "--pairs" : w.option) +
             ": this process may not use logical processor " + std::to_string(w.cpu) + where;
    }
  }
  return "";
}

std::string usage_text() {
  const std::string first = std::to_string(DEFAULT_FIRST_BUFLOG);
  const std::string last = std::to_string(DEFAULT_LAST_BUFLOG);
  char defaults[512];
  std::snprintf(defaults, sizeof defaults,
                "  --time SECONDS    the time for the whole sweep (default %g)\n"
                "  --margin PCT      'same within PCT %%' when the interval lies inside +-PCT "
                "(default %g)\n"
                "  --confidence C    for the whole sweep, between 0 and 1 (default %g)\n"
                "  --rounds N        exactly N rounds a size, no early stop, a fixed-sample "
                "interval\n"
                "  --pass-ms MS      the length of a pass, 0.1 to 10000 ms (default %g)\n",
                DEFAULT_TIME_S, DEFAULT_MARGIN, DEFAULT_CONFIDENCE, DEFAULT_PASS_MS);
  return "Usage: affinity_sweep [OPTION]...\n"
         "Measures how much pinning a memory-bound pass to one logical processor gains while an\n"
         "identical load runs pinned to another, across buffer sizes. Each round times a default\n"
         "pass (any processor the process may use) and a pinned pass in alternating order; a\n"
         "round's gain is (default - pinned) / default in percent. Each size runs rounds until\n"
         "its confidence sequence for the median gain decides it (same within the margin,\n"
         "pinned faster or pinned slower) or its share of the time is spent (undecided). The\n"
         "confidence holds for all sizes at once.\n"
         "\n"
         "Options:\n"
         "  --sizes LIST      buflog values (buffers of 2^buflog bytes), each from " +
         std::to_string(MIN_BUFLOG) + " to " + std::to_string(MAX_SWEEP_BUFLOG) +
         ", as a range\n"
         "                    " +
         first + "-" + last + ", a list " + first + "," + last + " or both (default " + first +
         "-" + last + ")\n" + defaults +
         "  --steps N         steps per pass, 1 to 2147483647, instead of --pass-ms\n"
         "  --probe-cpu N     logical processor of the pinned pass (default 0)\n"
         "  --load-cpu N      logical processor of the load (default 1); may equal --probe-cpu\n"
         "  --pairs LIST      probe:load pairs such as 0:1,0:0, or auto: one pair of each kind\n"
         "                    the machine has (two threads of a core, two cores sharing the\n"
         "                    last-level cache, ...) and the same processor as a control\n"
         "  --alone           also time the pinned pass with the load paused\n"
         "  --null            a null run: both passes of a round pinned to the probe processor\n"
         "  --csv FILE        write every timed pass to FILE as it is measured\n"
         "  --json FILE       write the machine, the parameters, the results and every pass\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Exit status: 0 when every size was measured and written; 1 when a run failed (a buffer\n"
         "or the load thread could not be had, or output could not be written); 2 for bad usage;\n"
         "130 when interrupted.\n";
}
