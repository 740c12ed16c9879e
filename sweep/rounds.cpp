// The sweep's rounds and budget. Each size gets fresh buffers filled as the program fills them,
// and a load worker of its own that is stopped and joined before the next size changes bufmask.
#include "sweep/rounds.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "bench/pass.h"
#include "bench/setup.h"
#include "sweep/worker.h"

const char* kind_name(pass_kind kind) {
  switch (kind) {
    case pass_kind::pinned:
      return "pinned";
    case pass_kind::alone:
      return "alone";
    case pass_kind::default_affinity:
      break;
  }
  return "default";
}

std::vector<pass_kind> round_order(int round, bool alone) {
  std::vector<pass_kind> order{pass_kind::default_affinity, pass_kind::pinned};
  if (alone) {
    order.push_back(pass_kind::alone);
  }
  if (round % 2 == 1) {
    std::reverse(order.begin(), order.end());
  }
  return order;
}

namespace {

// The first pass that sets the steps is this short, so that even a 1 GiB buffer under load
// takes a few milliseconds; each next one doubles until a pass takes half the time aimed at.
constexpr std::int32_t FIRST_STEPS = 10000;
// Warm-up after the steps are set: caches, TLBs and the load settle before the first round.
// Its median pass refines the steps, for the first passes after the fill run on cold caches.
constexpr std::int64_t WARMUP_NS = 50000000;
constexpr std::size_t WARMUP_PASSES = 4;
constexpr std::int32_t MAX_STEPS = std::numeric_limits<std::int32_t>::max();

// One pass of the step loop, timed with the monotonic clock; the clock is read right before
// and right after the loop and nowhere inside it.
std::int64_t timed_ns(const unsigned char* buf, std::int32_t steps) {
  auto start = sweep_clock::now();
  std::uint32_t sum = pass_sum(buf, steps);
  auto end = sweep_clock::now();
  pass_sink.store(static_cast<std::int32_t>(sum), std::memory_order_relaxed);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
}

// Gives the calling thread the affinity of a pass of this kind: every allowed processor for a
// default pass (but in a null run), the probe processor for the others. True when it took effect.
bool take_affinity(const method& m, pass_kind kind) {
  if (kind == pass_kind::default_affinity && !m.null_run) {
    return unrestrict_current_thread();
  }
  return restrict_current_thread(std::uint64_t{1} << m.probe_cpu);
}

// The steps that make a pass last target_ns, from one that took ns for steps.
std::int32_t scaled_steps(double target_ns, std::int32_t steps, std::int64_t ns) {
  double wanted =
      static_cast<double>(steps) * target_ns / static_cast<double>(std::max<std::int64_t>(ns, 1));
  return static_cast<std::int32_t>(std::clamp(wanted, 1.0, static_cast<double>(MAX_STEPS)));
}

// A buffer for the current bufsize, filled as the program fills its own; null when the memory
// cannot be had.
std::unique_ptr<unsigned char[]> filled_buffer() {
  std::size_t size = static_cast<std::size_t>(bufsize) + BUF_SLACK;
  std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[size]);
  if (buf) {
    fill_buffer(buf.get(), size);
  }
  return buf;
}

// Sets run.steps and warms up, with the load running. The steps come from passes timed pinned to
// the probe processor, where the thread is sure not to share a processor with the load unless
// asked to; the warm-up then alternates the two kinds of pass as the rounds will, and its median
// pass refines the steps once, for the first passes after the fill run on cold caches.
void set_steps(const method& m, const unsigned char* probe, load_worker& w, size_run& run) {
  std::int32_t steps = m.steps;
  const double target_ns = m.pass_ms * 1e6;
  if (steps == 0) {
    take_affinity(m, pass_kind::pinned);
    steps = FIRST_STEPS;
    std::int64_t ns = timed_ns(probe, steps);
    run.warmup_ns += ns;
    while (static_cast<double>(ns) < target_ns / 2 && steps <= MAX_STEPS / 2) {
      steps *= 2;
      ns = timed_ns(probe, steps);
      run.warmup_ns += ns;
    }
    steps = scaled_steps(target_ns, steps, ns);
    set_worker_steps(w, steps);
  }
  std::vector<double> warm;
  std::int64_t spent = 0;
  while (warm.size() < WARMUP_PASSES || spent < WARMUP_NS) {
    take_affinity(m, warm.size() % 2 == 0 ? pass_kind::default_affinity : pass_kind::pinned);
    std::int64_t ns = timed_ns(probe, steps);
    warm.push_back(static_cast<double>(ns));
    spent += ns;
  }
  run.warmup_ns += spent;
  if (m.steps == 0) {
    steps = scaled_steps(target_ns, steps, static_cast<std::int64_t>(median(warm)));
    set_worker_steps(w, steps);
  }
  run.steps = steps;
}

}  // namespace

size_run run_size(const method& m, int buflog, sweep_clock::time_point deadline,
                  const std::function<bool(const pass_record&)>& on_pass) {
  size_run run;
  set_buflog(buflog);
  std::unique_ptr<unsigned char[]> probe = filled_buffer();
  std::unique_ptr<unsigned char[]> load = filled_buffer();
  if (!probe || !load) {
    return run;
  }
  run.buffers = true;

  load_worker w;
  w.buf = load.get();
  w.steps = m.steps > 0 ? m.steps : FIRST_STEPS;
  w.cpu = m.load_cpu;
  if (!start_worker(w)) {
    return run;
  }
  run.worker = true;
  run.load_pinned = w.pinned;

  run.probe_released = unrestrict_current_thread();
  set_steps(m, probe.get(), w, run);

  const int last = m.rounds > 0 ? m.rounds : m.max_rounds;
  std::vector<double> sorted;  // the gains so far, for the stopping rule
  for (int round = 0; round < last && !run.stopped; ++round) {
    std::vector<pass_kind> order = round_order(round, m.alone);
    double default_ns = 0.0;
    double pinned_ns = 0.0;
    for (std::size_t i = 0; i < order.size(); ++i) {
      pass_record rec;
      rec.probe_cpu = m.probe_cpu;
      rec.load_cpu = m.load_cpu;
      rec.buflog = buflog;
      rec.round = round;
      rec.kind = order[i];
      rec.position = static_cast<int>(i);
      rec.steps = run.steps;
      bool held = take_affinity(m, rec.kind);
      if (rec.kind == pass_kind::default_affinity && !m.null_run) {
        run.probe_released = run.probe_released && held;
      } else {
        run.probe_pinned = run.probe_pinned && held;
      }
      // The alone pass times the pinned pass without the load, so only it pauses the worker.
      if (rec.kind == pass_kind::alone) {
        pause_worker(w);
      }
      rec.ns = timed_ns(probe.get(), run.steps);
      if (rec.kind == pass_kind::alone) {
        resume_worker(w);
      } else {
        held = held && run.load_pinned;
      }
      rec.held = held;
      // Per step, as round_gains pairs them, so that the summary judges the same gains.
      double per_step = static_cast<double>(rec.ns) / rec.steps;
      if (rec.kind == pass_kind::default_affinity) {
        default_ns = per_step;
      } else if (rec.kind == pass_kind::pinned) {
        pinned_ns = per_step;
      }
      run.passes.push_back(rec);
      if (!on_pass(rec)) {
        run.stopped = true;
        break;
      }
    }
    if (run.stopped) {
      break;
    }
    ++run.rounds;
    if (m.rounds > 0) {
      continue;
    }
    // A restriction that failed leaves the size without a claim: no more rounds can mend it.
    if (!restrictions_held(run)) {
      break;
    }
    double gain = paired_gain(default_ns, pinned_ns);
    sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), gain), gain);
    if (decided(judge(interval_of_sorted(sorted, m.alpha, m.kind), m.margin)) ||
        sweep_clock::now() >= deadline) {
      break;
    }
  }
  stop_worker(w);
  unrestrict_current_thread();
  return run;
}

bool restrictions_held(const size_run& run) {
  return run.load_pinned && run.probe_pinned && run.probe_released;
}

sweep_clock::time_point budget_end(const time_budget& b) {
  return b.start + std::chrono::duration_cast<sweep_clock::duration>(
                       std::chrono::duration<double>(b.seconds));
}

sweep_clock::time_point unit_deadline(const time_budget& b, int done, sweep_clock::time_point now) {
  sweep_clock::time_point end = budget_end(b);
  int left = std::max(b.units - done, 1);
  if (now >= end) {
    return now;
  }
  return now + (end - now) / left;
}

double budget_left(const time_budget& b, sweep_clock::time_point now) {
  double left = std::chrono::duration<double>(budget_end(b) - now).count();
  return std::max(left, 0.0);
}

std::vector<double> round_gains(const std::vector<pass_record>& passes) {
  // A round's default and pinned passes, paired by round number.
  int rounds = 0;
  for (const pass_record& p : passes) {
    rounds = std::max(rounds, p.round + 1);
  }
  std::vector<double> default_of(static_cast<std::size_t>(rounds), -1.0);
  std::vector<double> pinned_of(static_cast<std::size_t>(rounds), -1.0);
  for (const pass_record& p : passes) {
    if (p.steps <= 0) {
      continue;
    }
    double per_step = static_cast<double>(p.ns) / p.steps;
    if (p.kind == pass_kind::default_affinity) {
      default_of[static_cast<std::size_t>(p.round)] = per_step;
    } else if (p.kind == pass_kind::pinned) {
      pinned_of[static_cast<std::size_t>(p.round)] = per_step;
    }
  }
  std::vector<double> gains;
  for (std::size_t r = 0; r < default_of.size(); ++r) {
    if (default_of[r] > 0.0 && pinned_of[r] >= 0.0) {
      gains.push_back(paired_gain(default_of[r], pinned_of[r]));
    }
  }
  return gains;
}

size_summary summarize(const method& m, int buflog, const size_run& run) {
  size_summary s;
  s.probe_cpu = m.probe_cpu;
  s.load_cpu = m.load_cpu;
  s.buflog = buflog;
  s.steps = run.steps;
  s.rounds = run.rounds;
  s.held = restrictions_held(run);
  std::vector<double> by_kind[3];
  for (const pass_record& p : run.passes) {
    if (p.steps > 0) {
      by_kind[static_cast<int>(p.kind)].push_back(static_cast<double>(p.ns) / p.steps);
    }
  }
  s.default_ns = median(by_kind[static_cast<int>(pass_kind::default_affinity)]);
  s.pinned_ns = median(by_kind[static_cast<int>(pass_kind::pinned)]);
  s.alone_ns = median(by_kind[static_cast<int>(pass_kind::alone)]);
  if (!s.held) {
    s.result = verdict::not_pinned;
    return s;
  }
  std::vector<double> gains = round_gains(run.passes);
  std::sort(gains.begin(), gains.end());
  s.gain = median_of_sorted(gains);
  s.ci = interval_of_sorted(gains, m.alpha, m.kind);
  s.result = run.stopped ? verdict::interrupted : judge(s.ci, m.margin);
  return s;
}
