// The sweep's rounds and its time budget: for one buffer size, a load worker pinned to its
// processor, a pass length set from the warm-up, and rounds of paired default and pinned passes in
// alternating order until the size is decided or its share of the time is spent; and the summary
// of those rounds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/platform.h"
#include "sweep/stats.h"

using sweep_clock = std::chrono::steady_clock;

// The pass length aimed at when --steps does not fix it. Short passes pair better: two passes
// that run back to back share the host's slow swings, which cancel out of their gain. But a pass
// must outlast the scheduler's own time scales, or it measures the moment after an affinity
// change rather than the affinity: a thread pinned onto a busy processor is served first for a
// slice, so a pass of a few milliseconds is not slowed at all, and a default pass has no time to
// be moved. 20 ms is the shortest that showed a pass sharing the load's processor as slower,
// every time, on a quiet Linux machine (README: "How long a pass").
constexpr double DEFAULT_PASS_MS = 20.0;
constexpr double MAX_PASS_MS = 10000.0;

enum class pass_kind { default_affinity, pinned, alone };

// "default", "pinned" or "alone", as the CSV and JSON name them.
const char* kind_name(pass_kind kind);

struct pass_record {
  int probe_cpu = 0;
  int load_cpu = 0;
  int buflog = 0;
  int round = 0;  // 0-based
  pass_kind kind = pass_kind::default_affinity;
  int position = 0;  // 0-based place in its round
  std::int32_t steps = 0;
  std::int64_t ns = 0;  // wall-clock nanoseconds of the step loop
  bool held = true;     // every restriction this pass relies on took effect
};

// The order of the passes in a round: reversed in every other round, so that a drift in speed
// (heat, turbo, a neighbour's load) falls on each kind alike.
std::vector<pass_kind> round_order(int round, bool alone);

struct method {
  int rounds = 0;          // > 0: exactly this many; 0: until decided or out of time
  std::int32_t steps = 0;  // > 0: steps in every pass; 0: set from pass_ms and the warm-up
  double pass_ms = DEFAULT_PASS_MS;
  int max_rounds = 1000000;  // a bound on the rounds of one size, whatever else
  int probe_cpu = 0;
  int load_cpu = 1;
  bool alone = false;
  // A null run: the default slot of every round is pinned to the probe processor too, timed and
  // ordered as in a real round, so the true gain is zero.
  bool null_run = false;
  double alpha = 0.05;  // the size's share of the family's error probability
  double margin = 1.0;  // percent
  interval_kind kind = interval_kind::fixed_sample;
};

struct size_run {
  bool buffers = false;  // both buffers were obtained
  bool worker = false;   // the load thread was started
  bool load_pinned = false;
  bool probe_pinned = true;    // every pinned (and alone) pass was pinned to the probe
  bool probe_released = true;  // every default pass had every allowed processor
  bool stopped = false;        // on_pass asked to stop before the size was done
  std::int32_t steps = 0;      // steps a pass
  int rounds = 0;              // complete rounds
  std::int64_t warmup_ns = 0;  // inside the passes that set the steps and warmed up
  std::vector<pass_record> passes;
};

// Whether every restriction of a size took effect, the load's and the probe's: only then is a
// result claimed for it.
bool restrictions_held(const size_run& run);

// Measures one size: obtains and fills both buffers, starts the load worker, sets the steps of a
// pass (from m.steps, or from m.pass_ms and passes timed under the load) and warms up, then runs
// rounds. With m.rounds it runs exactly that many; otherwise after every round it stops once
// the confidence sequence decides the size, or at the first round that ends after deadline.
// on_pass is called after each timed pass, and a false answer stops the size there, between
// passes. The worker is stopped before it returns, and the calling thread's affinity is left
// released. Uses bufmask, so no other pass may run meanwhile.
size_run run_size(const method& m, int buflog, sweep_clock::time_point deadline,
                  const std::function<bool(const pass_record&)>& on_pass);

// The sweep's time, shared among what it measures (each pair's sizes): each unit's share is what
// is left over the units left, so that time a decided unit does not use goes to the ones after it.
struct time_budget {
  sweep_clock::time_point start;
  double seconds = 0.0;  // the whole budget
  int units = 1;         // pairs times sizes
};
sweep_clock::time_point budget_end(const time_budget& b);
// The deadline of unit number done (0-based, done units measured), asked for at now.
sweep_clock::time_point unit_deadline(const time_budget& b, int done, sweep_clock::time_point now);
// Seconds of the budget left at now; 0 when spent.
double budget_left(const time_budget& b, sweep_clock::time_point now);

struct size_summary {
  int probe_cpu = 0;
  int load_cpu = 0;
  int buflog = 0;
  std::int32_t steps = 0;
  int rounds = 0;           // complete rounds: the gains the interval is built from
  bool held = false;        // every restriction of the size took effect: a result is claimed
  double default_ns = 0.0;  // medians, ns per step
  double pinned_ns = 0.0;
  double alone_ns = 0.0;  // 0 without --alone
  double gain = 0.0;      // median paired gain, percent
  interval ci;
  verdict result = verdict::not_pinned;
};

// The gain of each complete round of one size's passes (a round cut short by a stop has none),
// in round order.
std::vector<double> round_gains(const std::vector<pass_record>& passes);

// The medians, the median paired gain with its interval, and the verdict of one size's passes.
// A restriction that failed gives not pinned; a size stopped by on_pass gives interrupted, with
// the figures as far as they go.
size_summary summarize(const method& m, int buflog, const size_run& run);
