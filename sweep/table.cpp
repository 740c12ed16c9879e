// The sweep's table. Every figure carries its unit in a column head, and the header says how
// sure the intervals are and what each verdict means.
#include "sweep/table.h"

#include <cstdio>

namespace {

// A percentage as the header gives one: 99.5, 98.3333.
std::string percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%g %%", 100.0 * fraction);
  return text;
}

std::string pair_text(const cpu_pair& p) {
  return std::to_string(p.probe) + ":" + std::to_string(p.load) + " (" + relation_text(p.relation) +
         ")";
}

}  // namespace

std::string cpu_list_text(const std::vector<int>& cpus) {
  std::string out;
  for (std::size_t i = 0; i < cpus.size();) {
    std::size_t j = i;
    while (j + 1 < cpus.size() && cpus[j + 1] == cpus[j] + 1) {
      ++j;
    }
    out += (out.empty() ? "" : ",") + std::to_string(cpus[i]);
    if (j > i) {
      out += "-" + std::to_string(cpus[j]);
    }
    i = j + 1;
  }
  return out.empty() ? "none" : out;
}

std::string size_text(int buflog) {
  static const char* const units[] = {"KiB", "MiB", "GiB"};
  int unit = buflog < 20 ? 0 : buflog < 30 ? 1 : 2;
  return std::to_string(1 << (buflog - 10 * (unit + 1))) + " " + units[unit];
}

bool print_header(const machine_info& machine, const sweep_options& opts,
                  const std::vector<cpu_pair>& pairs, const method_text& how) {
  std::printf("affinity_sweep %s\n", program_version());
  std::printf("cpu:         %s\n",
              machine.cpu_model.empty() ? "unknown" : machine.cpu_model.c_str());
  std::printf("processors:  %s (those this process may use)\n",
              cpu_list_text(machine.processors).c_str());
  if (pairs.size() > 1) {
    std::string list;
    for (const cpu_pair& p : pairs) {
      list += (list.empty() ? "" : ", ") + pair_text(p);
    }
    std::printf("pairs:       %s\n", list.c_str());
  }
  std::string passes =
      opts.alone ? "a default, a pinned and an alone pass" : "a default and a pinned pass";
  char length[96];
  if (opts.steps > 0) {
    std::snprintf(length, sizeof length, "%d steps a pass", static_cast<int>(opts.steps));
  } else {
    std::snprintf(length, sizeof length,
                  "each pass about %g ms, its steps set for each size from the warm-up",
                  opts.pass_ms);
  }
  std::printf("method:      rounds of %s in alternating order; %s\n", passes.c_str(), length);
  char time[32];
  std::snprintf(time, sizeof time, "%g s", opts.time_s);
  const char* unit = pairs.size() > 1 ? "pair and size" : "size";
  if (opts.rounds > 0) {
    std::printf("stopping:    exactly %d rounds a %s\n", opts.rounds, unit);
  } else {
    std::printf(
        "stopping:    each %s until it is decided, or until its share of %s for the whole sweep is "
        "spent\n",
        unit, time);
  }
  std::printf(
      "gain:        (default - pinned) / default per round, in %%; the median of the rounds, "
      "with its interval\n");
  std::string units = std::to_string(how.units);
  if (pairs.size() > 1) {
    units += " (" + std::to_string(pairs.size()) + " pairs x " + std::to_string(opts.sizes.size()) +
             (opts.sizes.size() == 1 ? " size)" : " sizes)");
  }
  std::printf("interval:    %s; %s for each of %s, so %s for all at once (Bonferroni)\n",
              interval_text(how.kind), percent(1.0 - how.alpha_per_size).c_str(), units.c_str(),
              percent(opts.confidence).c_str());
  std::string same = verdict_text(verdict::same, opts.margin);
  std::printf(
      "verdict:     %s when the whole interval lies inside +/-%g %%; else pinned faster when it "
      "lies above 0, pinned slower when below; else undecided\n",
      same.c_str(), opts.margin);
  if (opts.null_run) {
    std::printf(
        "null run:    the default pass of every round is pinned to the probe processor too, so "
        "the true gain is 0: any pinned faster or pinned slower is a false decision\n");
  }
  return flushed(stdout);
}

bool print_table_head(const cpu_pair& pair, const sweep_options& opts) {
  std::printf("\npair:        pinned pass on %d, load on %d: %s\n\n", pair.probe, pair.load,
              relation_text(pair.relation));
  std::printf(
      "buflog      size       steps   rounds   default    pinned%s      gain   interval          "
      "verdict\n",
      opts.alone ? "     alone" : "");
  std::printf(
      "                                        ns/step   ns/step%s         %%          %%\n",
      opts.alone ? "   ns/step" : "");
  return flushed(stdout);
}

bool print_row(const size_summary& s, const sweep_options& opts) {
  char alone_col[16] = "";
  if (opts.alone) {
    std::snprintf(alone_col, sizeof alone_col, "%10.3f", s.alone_ns);
  }
  char gain[16] = "         -";
  if (s.held && s.rounds > 0) {
    std::snprintf(gain, sizeof gain, "%+10.2f", s.gain);
  }
  char ci[40] = "-";
  if (s.held && s.ci.valid) {
    std::snprintf(ci, sizeof ci, "[%+.2f, %+.2f]", s.ci.low, s.ci.high);
  } else if (s.held && s.rounds > 0) {
    std::snprintf(ci, sizeof ci, "unbounded");
  }
  std::printf("%6d  %8s  %10d  %7d  %8.3f  %8.3f%s%s  %-18s  %s\n", s.buflog,
              size_text(s.buflog).c_str(), static_cast<int>(s.steps), s.rounds, s.default_ns,
              s.pinned_ns, alone_col, gain, ci, verdict_text(s.result, opts.margin).c_str());
  return flushed(stdout);
}
