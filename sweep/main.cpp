// affinity_sweep: is the gain from pinning real? For each buffer size, rounds of one default and
// one pinned pass under load, in alternating order, and the median paired gain with a 95 %
// confidence interval. See usage_text() and the README.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/setup.h"
#include "platform/platform.h"
#include "sweep/method.h"
#include "sweep/options.h"
#include "sweep/output.h"
#include "sweep/progress.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
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

void warn_unpinned(const size_run& run, const sweep_options& opts, int buflog) {
  clear_progress();
  if (!run.load_pinned) {
    std::fprintf(stderr,
                 "affinity_sweep: warning: load thread not pinned to logical processor %d at "
                 "buflog %d; no result is claimed for that size\n",
                 opts.load_cpu, buflog);
  }
  if (!run.probe_pinned) {
    std::fprintf(stderr,
                 "affinity_sweep: warning: main thread not pinned to logical processor %d at "
                 "buflog %d; no result is claimed for that size\n",
                 opts.probe_cpu, buflog);
  }
  if (!run.probe_released) {
    std::fprintf(stderr,
                 "affinity_sweep: warning: main thread not given back every allowed processor "
                 "for the default passes at buflog %d; no result is claimed for that size\n",
                 buflog);
  }
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
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
  }
  problem = check_processors(opts, allowed_processors());
  if (!problem.empty()) {
    return refused(problem);
  }
  // Both files are opened before the first pass, so a bad path costs no measuring. They are
  // opened to append first and emptied only once both could be opened: a mistyped JSON path
  // must not cost an earlier CSV of the same name its contents.
  std::FILE* csv = nullptr;
  std::FILE* json = nullptr;
  if (!opts.csv.empty() && (csv = std::fopen(opts.csv.c_str(), "a")) == nullptr) {
    return refused("cannot create " + opts.csv + ": " + std::strerror(errno));
  }
  if (!opts.json.empty() && (json = std::fopen(opts.json.c_str(), "a")) == nullptr) {
    return refused("cannot create " + opts.json + ": " + std::strerror(errno));
  }
  if (csv != nullptr && (csv = std::freopen(opts.csv.c_str(), "w", csv)) == nullptr) {
    return refused("cannot write " + opts.csv + ": " + std::strerror(errno));
  }
  if (json != nullptr && (json = std::freopen(opts.json.c_str(), "w", json)) == nullptr) {
    return refused("cannot write " + opts.json + ": " + std::strerror(errno));
  }

  sweep_record record;
  record.opts = opts;
  record.machine = read_machine(opts);
  if (!print_header(record.machine, opts)) {
    return failed(write_problem("the table"));
  }
  if (csv != nullptr && !csv_head(csv)) {
    return failed(write_problem(opts.csv));
  }

  method m{opts.rounds, opts.steps, opts.probe_cpu, opts.load_cpu, opts.alone};
  const int kinds = opts.alone ? 3 : 2;
  const int sizes = static_cast<int>(opts.sizes.size());
  const clock_type::time_point start = clock_type::now();
  std::string csv_problem;
  int status = 0;
  for (int i = 0; i < sizes && status == 0; ++i) {
    const int buflog = opts.sizes[static_cast<std::size_t>(i)];
    double size_pass_s = 0.0;
    int size_passes = 0;
    size_run run = run_size(m, buflog, [&](const pass_record& p) {
      record.passes.push_back(p);
      record.pass_seconds += static_cast<double>(p.ns) / 1e9;
      size_pass_s += static_cast<double>(p.ns) / 1e9;
      ++size_passes;
      if (csv != nullptr && csv_problem.empty() && !csv_row(csv, p)) {
        csv_problem = write_problem(opts.csv);
      }
      int left = (opts.rounds * kinds - size_passes) + (sizes - i - 1) * opts.rounds * kinds;
      show_progress(i + 1, sizes, buflog, p.round + 1, opts.rounds, seconds_since(start),
                    left * size_pass_s / size_passes);
    });
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
    bool held = run.load_pinned && run.probe_pinned && run.probe_released;
    if (!held) {
      warn_unpinned(run, opts, buflog);
    }
    record.results.push_back(summarize(buflog, run.passes, held));
    clear_progress();
    if (!print_row(record.results.back(), opts.alone)) {
      status = failed(write_problem("the table"));
    } else if (!csv_problem.empty()) {
      status = failed(csv_problem);
    }
  }
  record.wall_seconds = seconds_since(start);
  record.complete = status == 0;
  // The JSON is written once, at the end, and also after a failure, marked incomplete.
  if (json != nullptr && !write_json(json, record) && status == 0) {
    status = failed(write_problem(opts.json));
  }
  if (csv != nullptr && std::fclose(csv) != 0 && status == 0) {
    status = failed(write_problem(opts.csv));
  }
  if (json != nullptr && std::fclose(json) != 0 && status == 0) {
    status = failed(write_problem(opts.json));
  }
  return status;
}
