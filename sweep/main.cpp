// affinity_sweep: is the gain from pinning real? For each buffer size, rounds of one default and
// one pinned pass under load, in alternating order, until the median paired gain is decided
// (same within a margin, pinned faster or pinned slower) with a confidence that holds for the
// whole sweep at once, or until the time given is spent. See usage_text() and the README.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/setup.h"
#include "platform/platform.h"
#include "sweep/options.h"
#include "sweep/pairs.h"
#include "sweep/progress.h"
#include "sweep/record.h"
#include "sweep/rounds.h"
#include "sweep/table.h"

namespace {

double seconds_since(sweep_clock::time_point start) {
  return std::chrono::duration<double>(sweep_clock::now() - start).count();
}

// Bad usage: one line, status 2, and nothing measured.
int refused(const std::string& problem) {
  std::fprintf(stderr, "affinity_sweep: %s\n", problem.c_str());
  return 2;
}

int usage_error(const std::string& problem) {
  return refused(problem + "; see affinity_sweep --help");
}

int failed(const std::string& what) {
  clear_progress();
  std::fprintf(stderr, "affinity_sweep: %s\n", what.c_str());
  return 1;
}

std::string write_problem(const std::string& name) {
  return "cannot write " + name + ": " + std::strerror(errno);
}

void warn_unpinned(const size_run& run, const cpu_pair& pair, int buflog) {
  clear_progress();
  if (!run.load_pinned) {
    std::fprintf(stderr,
                 "affinity_sweep: warning: load thread not pinned to logical processor %d at "
                 "buflog %d; no result is claimed for that size\n",
                 pair.load, buflog);
  }
  if (!run.probe_pinned) {
    std::fprintf(stderr,
                 "affinity_sweep: warning: main thread not pinned to logical processor %d at "
                 "buflog %d; no result is claimed for that size\n",
                 pair.probe, buflog);
  }
  if (!run.probe_released) {
    std::fprintf(stderr,
                 "affinity_sweep: warning: main thread not given back every allowed processor "
                 "for the default passes at buflog %d; no result is claimed for that size\n",
                 buflog);
  }
}

// The pairs to measure: those --pairs lists, one of each relation the machine offers for --pairs
// auto, or the one pair of --probe-cpu and --load-cpu; each with its relation.
std::vector<cpu_pair> chosen_pairs(const sweep_options& opts, const std::vector<int>& allowed) {
  if (opts.auto_pairs) {
    // Only processors a 64-bit mask can pin are candidates.
    std::vector<int> pinnable;
    for (int cpu : allowed) {
      if (cpu <= MAX_PAIR_CPU) {
        pinnable.push_back(cpu);
      }
    }
    std::vector<cpu_place> places;
    if (processor_places(pinnable, &places)) {
      return auto_pairs(places);
    }
    std::vector<cpu_pair> fallback = fallback_pairs(pinnable);
    std::fprintf(stderr,
                 "affinity_sweep: warning: where the processors sit cannot be read here; --pairs "
                 "auto measures %s only\n",
                 fallback.size() > 1 ? "the lowest two processors and the control" : "the control");
    return fallback;
  }
  std::vector<cpu_pair> pairs = opts.pairs;
  if (pairs.empty()) {
    pairs.push_back({opts.probe_cpu, opts.load_cpu, cpu_relation::unknown});
  }
  for (cpu_pair& pair : pairs) {
    pair.relation = processor_relation(pair.probe, pair.load);
  }
  return pairs;
}

// The output files, opened before the first pass so that a bad path costs no measuring. The JSON
// is written beside its target and takes its name only when complete, so the target keeps the
// previous result until then; the CSV is written as the passes are measured.
struct outputs {
  std::FILE* csv = nullptr;
  pending_file json;
};

// "" when both files could be opened, otherwise the problem (and neither is left open).
std::string open_outputs(const sweep_options& opts, outputs& out) {
  std::string problem;
  if (!opts.csv.empty() && !opts.json.empty() && same_file(opts.csv, opts.json)) {
    return "--csv and --json name the same file";
  }
  if (!opts.json.empty() && !open_pending(opts.json, &out.json, &problem)) {
    return problem;
  }
  if (!opts.csv.empty() && (out.csv = std::fopen(opts.csv.c_str(), "w")) == nullptr) {
    problem = "cannot create " + opts.csv + ": " + std::strerror(errno);
    discard_pending(&out.json);
  }
  return problem;
}

}  // namespace

int main(int argc, char** argv) {
  sweep_options opts;
  std::string problem = parse_options(argc, argv, opts);
  if (!problem.empty()) {
    return usage_error(problem);
  }
  if (opts.help || opts.version) {
    std::string text =
        opts.help ? usage_text() : std::string("affinity_sweep ") + program_version() + "\n";
    std::fputs(text.c_str(), stdout);
    return flushed(stdout) ? 0 : 1;
  }
  const std::vector<int> allowed = allowed_processors();
  std::vector<cpu_pair> pairs = chosen_pairs(opts, allowed);
  problem = check_pairs(pairs, allowed, opts.auto_pairs || !opts.pairs.empty());
  if (pairs.empty()) {
    problem = "the processors this process may use cannot be read";
  }
  if (!problem.empty()) {
    return refused(problem);
  }
  const int sizes = static_cast<int>(opts.sizes.size());
  const int units = static_cast<int>(pairs.size()) * sizes;
  problem = check_rounds(opts, units);
  if (!problem.empty()) {
    return usage_error(problem);
  }
  watch_interrupts();
  outputs out;
  problem = open_outputs(opts, out);
  if (!problem.empty()) {
    return refused(problem);
  }

  sweep_record record;
  record.opts = opts;
  record.pairs = pairs;
  record.machine = read_machine();
  record.kind = opts.rounds > 0 ? interval_kind::fixed_sample : interval_kind::sequence;
  record.alpha_per_size = size_alpha(opts, units);
  int status = 0;
  if (!print_header(record.machine, opts, pairs, {record.kind, record.alpha_per_size, units})) {
    status = failed(write_problem("the table"));
  } else if (out.csv != nullptr && !csv_head(out.csv)) {
    status = failed(write_problem(opts.csv));
  }

  method m;
  m.rounds = opts.rounds;
  m.steps = opts.steps;
  m.pass_ms = opts.pass_ms;
  m.alone = opts.alone;
  m.null_run = opts.null_run;
  m.alpha = record.alpha_per_size;
  m.margin = opts.margin;
  m.kind = record.kind;
  const int kinds = opts.alone ? 3 : 2;
  const sweep_clock::time_point start = sweep_clock::now();
  const time_budget budget{start, opts.time_s, units};
  std::string csv_problem;
  int unit = 0;
  for (const cpu_pair& pair : pairs) {
    if (status != 0 || record.interrupted) {
      break;
    }
    if (!print_table_head(pair, opts)) {
      status = failed(write_problem("the table"));
      break;
    }
    m.probe_cpu = pair.probe;
    m.load_cpu = pair.load;
    for (int buflog : opts.sizes) {
      if (interrupted()) {
        record.interrupted = true;
        break;
      }
      double size_pass_s = 0.0;
      int size_passes = 0;
      sweep_clock::time_point deadline = opts.rounds > 0
                                             ? sweep_clock::time_point::max()
                                             : unit_deadline(budget, unit, sweep_clock::now());
      size_run run = run_size(m, buflog, deadline, [&](const pass_record& p) {
        record.passes.push_back(p);
        record.pass_seconds += static_cast<double>(p.ns) / 1e9;
        size_pass_s += static_cast<double>(p.ns) / 1e9;
        ++size_passes;
        if (out.csv != nullptr && csv_problem.empty() && !csv_row(out.csv, p, pair.relation)) {
          csv_problem = write_problem(opts.csv);
        }
        double left = budget_left(budget, sweep_clock::now());
        if (opts.rounds > 0) {
          int passes_left =
              (opts.rounds * kinds - size_passes) + (units - unit - 1) * opts.rounds * kinds;
          left = passes_left * size_pass_s / size_passes;
        }
        show_progress(unit + 1, units, buflog, p.round + 1, opts.rounds, seconds_since(start),
                      left);
        // Looked at between passes only: the pass itself is never cut short.
        return !interrupted();
      });
      ++unit;
      if (!run.buffers) {
        status = failed("cannot obtain two buffers of " +
                        std::to_string((std::int64_t{1} << buflog) + BUF_SLACK) +
                        " bytes for buflog " + std::to_string(buflog));
        break;
      }
      if (!run.worker) {
        status = failed("cannot start the load thread");
        break;
      }
      record.warmup_seconds += static_cast<double>(run.warmup_ns) / 1e9;
      if (!restrictions_held(run)) {
        warn_unpinned(run, pair, buflog);
      }
      record.results.push_back(summarize(m, buflog, run));
      clear_progress();
      if (!print_row(record.results.back(), opts)) {
        status = failed(write_problem("the table"));
      } else if (!csv_problem.empty()) {
        status = failed(csv_problem);
      }
      if (run.stopped) {
        record.interrupted = true;
      }
      if (status != 0 || record.interrupted) {
        break;
      }
    }
  }
  clear_progress();
  record.wall_seconds = seconds_since(start);
  record.complete = status == 0 && !record.interrupted;
  // The JSON is written once, at the end, also after a failure or an interruption, marked
  // incomplete, and takes the target's name only once it is whole.
  if (out.json.out != nullptr) {
    std::string text = json_text(record);
    std::fputs(text.c_str(), out.json.out);
    // Said even after an earlier failure, which keeps its status: the file is not there.
    if (!commit_pending(&out.json, &problem)) {
      int s = failed(problem);
      status = status == 0 ? s : status;
    }
  }
  if (out.csv != nullptr && std::fclose(out.csv) != 0) {
    int s = failed(write_problem(opts.csv));
    status = status == 0 ? s : status;
  }
  if (status == 0 && record.interrupted) {
    return interrupted_status();
  }
  return status;
}
