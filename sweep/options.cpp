// Reading the sweep's command line. Every refusal names its problem in one line; the caller
// prints it and exits with status 2 before anything is measured.
#include "sweep/options.h"

#include <algorithm>
#include <cstring>

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

bool takes_value(const std::string& name) {
  static const char* const names[] = {"sizes",    "rounds", "steps", "probe-cpu",
                                      "load-cpu", "csv",    "json"};
  for (const char* n : names) {
    if (name == n) {
      return true;
    }
  }
  return false;
}

// Applies one option that takes a value.
std::string apply(const std::string& name, const std::string& value, sweep_options& opts) {
  long long n = 0;
  if (name == "sizes") {
    return read_sizes(value, opts.sizes);
  }
  if (name == "rounds") {
    if (!read_number(value, MIN_ROUNDS, MAX_ROUNDS, n)) {
      return "--rounds: '" + value + "' is not a whole number from " + std::to_string(MIN_ROUNDS) +
             " to " + std::to_string(MAX_ROUNDS) + " (fewer than " + std::to_string(MIN_ROUNDS) +
             " rounds cannot give a 95 % interval)";
    }
    opts.rounds = static_cast<int>(n);
  } else if (name == "steps") {
    if (!read_number(value, 1, 2147483647, n)) {
      return "--steps: '" + value + "' is not a whole number from 1 to 2147483647";
    }
    opts.steps = static_cast<std::int32_t>(n);
  } else if (name == "probe-cpu" || name == "load-cpu") {
    if (!read_number(value, 0, 1000000, n)) {
      return "--" + name + ": '" + value + "' is not a processor number";
    }
    (name == "probe-cpu" ? opts.probe_cpu : opts.load_cpu) = static_cast<int>(n);
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
    if (name == "alone") {
      if (eq != std::string::npos) {
        return "--alone takes no value";
      }
      opts.alone = true;
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
  if (!opts.csv.empty() && opts.csv == opts.json) {
    return "--csv and --json name the same file";
  }
  return "";
}

std::string check_processors(const sweep_options& opts, const std::vector<int>& allowed) {
  const struct {
    const char* option;
    int cpu;
  } wanted[] = {{"--probe-cpu", opts.probe_cpu}, {"--load-cpu", opts.load_cpu}};
  for (const auto& w : wanted) {
    // Pinning takes a 64-bit mask, so processors past 63 cannot be asked for.
    if (w.cpu > 63 || std::find(allowed.begin(), allowed.end(), w.cpu) == allowed.end()) {
      return std::string(w.option) + ": this process may not use logical processor " +
             std::to_string(w.cpu);
    }
  }
  return "";
}

std::string usage_text() {
  const std::string first = std::to_string(DEFAULT_FIRST_BUFLOG);
  const std::string last = std::to_string(DEFAULT_LAST_BUFLOG);
  const std::string min_rounds = std::to_string(MIN_ROUNDS);
  return "Usage: affinity_sweep [OPTION]...\n"
         "Measures how much pinning a memory-bound pass to one logical processor gains while an\n"
         "identical load runs pinned to another, across buffer sizes, with a 95 % confidence\n"
         "interval for each gain. Each round times a default pass (any processor the process may\n"
         "use) and a pinned pass, in alternating order; a round's gain is\n"
         "(default - pinned) / default in percent.\n"
         "\n"
         "Options:\n"
         "  --sizes LIST      buflog values (buffers of 2^buflog bytes), each from " +
         std::to_string(MIN_BUFLOG) + " to " + std::to_string(MAX_SWEEP_BUFLOG) +
         ", as a range\n"
         "                    " +
         first + "-" + last + ", a list " + first + "," + last + " or both (default " + first +
         "-" + last + ")\n" + "  --rounds N        rounds per size, at least " + min_rounds +
         " (default " + std::to_string(DEFAULT_ROUNDS) + ")\n" +
         "  --steps N         steps per pass, 1 to 2147483647 (default " +
         std::to_string(DEFAULT_STEPS) + ")\n" +
         "  --probe-cpu N     logical processor of the pinned pass (default 0)\n"
         "  --load-cpu N      logical processor of the load (default 1); may equal --probe-cpu\n"
         "  --alone           also time the pinned pass with the load paused\n"
         "  --csv FILE        write every timed pass to FILE as it is measured\n"
         "  --json FILE       write the machine, the parameters, the results and every pass\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Exit status: 0 when every size was measured and written; 1 when a run failed (a buffer\n"
         "or the load thread could not be had, or output could not be written); 2 for bad usage.\n";
}
