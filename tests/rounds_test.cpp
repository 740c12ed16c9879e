// The sweep's rounds: the order of the passes, the pairing of a round's passes in the summary,
// the rounds' stopping points, the time budget, and the load worker's start, pause and stop,
// which ThreadSanitizer checks in its build.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "bench/setup.h"
#include "platform/platform.h"
#include "sweep/rounds.h"
#include "sweep/worker.h"

namespace {

using k = pass_kind;

TEST(RoundOrder, AlternatesFromRoundToRound) {
  EXPECT_EQ(round_order(0, false), (std::vector<k>{k::default_affinity, k::pinned}));
  EXPECT_EQ(round_order(1, false), (std::vector<k>{k::pinned, k::default_affinity}));
  EXPECT_EQ(round_order(2, false), round_order(0, false));
  EXPECT_EQ(round_order(0, true), (std::vector<k>{k::default_affinity, k::pinned, k::alone}));
  EXPECT_EQ(round_order(1, true), (std::vector<k>{k::alone, k::pinned, k::default_affinity}));
}

pass_record rec(int round, k kind, std::int64_t ns) {
  pass_record p;
  p.buflog = 17;
  p.round = round;
  p.kind = kind;
  p.steps = 10;
  p.ns = ns;
  return p;
}

// A size whose restrictions all held, of the given passes and whole rounds.
size_run pinned_run(const std::vector<pass_record>& passes, int rounds) {
  size_run run;
  run.load_pinned = true;
  run.passes = passes;
  run.rounds = rounds;
  return run;
}

// The summary's method for a fixed number of rounds at 95 %.
method fixed_method() {
  method m;
  m.alpha = 0.05;
  m.kind = interval_kind::fixed_sample;
  return m;
}

TEST(Summarize, PairsEachRoundsPasses) {
  // Rounds whose passes drift slower and slower: the gain of each round is its own pair's,
  // 10 % in every round, although the pinned passes of late rounds are slower than the default
  // passes of early ones.
  std::vector<pass_record> passes;
  for (int r = 0; r < 8; ++r) {
    std::int64_t base = 100 + 50 * r;
    passes.push_back(rec(r, k::pinned, base * 9 / 10));
    passes.push_back(rec(r, k::default_affinity, base));
    passes.push_back(rec(r, k::alone, base / 2));
  }
  size_run run = pinned_run(passes, 8);
  const method m = fixed_method();
  size_summary s = summarize(m, 17, run);
  EXPECT_NEAR(s.gain, 10.0, 1e-9);
  EXPECT_NEAR(s.ci.low, 10.0, 1e-9);
  EXPECT_NEAR(s.ci.high, 10.0, 1e-9);
  EXPECT_EQ(s.result, verdict::pinned_faster);
  EXPECT_NEAR(s.default_ns, (250.0 + 300.0) / 2 / 10, 1e-9);  // median of 100 … 450, per step
  EXPECT_NEAR(s.alone_ns, (125.0 + 150.0) / 2 / 10, 1e-9);

  // The same passes with a restriction that failed: medians, but no result.
  run.load_pinned = false;
  size_summary unpinned = summarize(m, 17, run);
  EXPECT_EQ(unpinned.result, verdict::not_pinned);
  EXPECT_NEAR(unpinned.default_ns, s.default_ns, 1e-9);

  // Stopped in the middle of round 8, whose lone pass has no partner: the eight whole rounds
  // still make the interval, and the verdict says the size was cut short.
  run.load_pinned = true;
  run.stopped = true;
  run.passes.push_back(rec(8, k::default_affinity, 999));
  size_summary cut = summarize(m, 17, run);
  EXPECT_EQ(round_gains(run.passes).size(), 8u);
  EXPECT_NEAR(cut.gain, 10.0, 1e-9);
  EXPECT_EQ(cut.result, verdict::interrupted);
}

TEST(Summarize, SlowerPinnedPasses) {
  std::vector<pass_record> passes;
  for (int r = 0; r < 6; ++r) {
    passes.push_back(rec(r, k::default_affinity, 100 + r));
    passes.push_back(rec(r, k::pinned, 200 + r));
  }
  size_summary s = summarize(fixed_method(), 17, pinned_run(passes, 6));
  EXPECT_EQ(s.result, verdict::pinned_slower);
  EXPECT_LT(s.ci.high, -90.0);
}

// The first processor this process may use: always one a thread can be pinned to.
int first_allowed() {
  std::vector<int> cpus = allowed_processors();
  return cpus.empty() ? 0 : cpus.front();
}

TEST(LoadWorker, StartsPausesAndStops) {
  set_buflog(17);
  std::vector<unsigned char> buf(static_cast<std::size_t>(bufsize) + BUF_SLACK);
  fill_buffer(buf.data(), buf.size());
  load_worker w;
  w.buf = buf.data();
  w.steps = 1000;
  w.cpu = first_allowed();
  ASSERT_TRUE(start_worker(w));
  set_worker_steps(w, 2000);
  {
    std::lock_guard<std::mutex> hold(w.lock);
    EXPECT_TRUE(w.started);
    EXPECT_TRUE(w.pinned);
  }
  pause_worker(w);
  std::int64_t paused_at;
  {
    std::lock_guard<std::mutex> hold(w.lock);
    paused_at = w.passes;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    std::lock_guard<std::mutex> hold(w.lock);
    EXPECT_EQ(w.passes, paused_at) << "the worker ran a pass while paused";
  }
  resume_worker(w);
  stop_worker(w);  // returns only once the thread is joined
  EXPECT_FALSE(w.thread.joinable());

  // Stopped while paused, too.
  load_worker v;
  v.buf = buf.data();
  v.steps = 1000;
  v.cpu = first_allowed();
  ASSERT_TRUE(start_worker(v));
  pause_worker(v);
  stop_worker(v);
  EXPECT_FALSE(v.thread.joinable());
}

method tiny_method(int cpu) {
  method m;
  m.steps = 2000;
  m.probe_cpu = cpu;
  m.load_cpu = cpu;
  m.alpha = 0.05;
  return m;
}

const auto ANY_PASS = [](const pass_record&) { return true; };

TEST(RunSize, RecordsEveryPassInItsPlace) {
  // In a thread of its own: the run pins and releases its calling thread.
  int cpu = first_allowed();
  std::thread([cpu] {
    method m = tiny_method(cpu);
    m.rounds = 6;
    m.alone = true;
    int seen = 0;
    size_run run = run_size(m, 17, sweep_clock::now(), [&seen](const pass_record&) {
      ++seen;
      return true;
    });
    ASSERT_TRUE(run.buffers);
    ASSERT_TRUE(run.worker);
    EXPECT_TRUE(run.load_pinned && run.probe_pinned && run.probe_released);
    EXPECT_EQ(run.rounds, 6) << "a fixed number of rounds ignores the deadline";
    EXPECT_EQ(run.steps, 2000);
    ASSERT_EQ(run.passes.size(), 6u * 3u);
    EXPECT_EQ(seen, 18);
    for (std::size_t i = 0; i < run.passes.size(); ++i) {
      const pass_record& p = run.passes[i];
      int round = static_cast<int>(i / 3);
      EXPECT_EQ(p.round, round);
      EXPECT_EQ(p.position, static_cast<int>(i % 3));
      EXPECT_EQ(p.kind, round_order(round, true)[i % 3]);
      EXPECT_EQ(p.steps, 2000);
      EXPECT_EQ(p.buflog, 17);
      EXPECT_EQ(p.probe_cpu, cpu);
      EXPECT_GT(p.ns, 0);
      EXPECT_TRUE(p.held);
    }
  }).join();
}

TEST(RunSize, StopsWhereItShould) {
  int cpu = first_allowed();
  std::thread([cpu] {
    method m = tiny_method(cpu);
    // Until decided, at a confidence that seven rounds cannot bound: the deadline ends it, after
    // the round that passes it (here the first), or the bound on rounds does.
    m.alpha = 1e-12;
    size_run late = run_size(m, 17, sweep_clock::now(), ANY_PASS);
    EXPECT_EQ(late.rounds, 1);
    EXPECT_FALSE(late.stopped);
    m.max_rounds = 7;
    size_run bounded = run_size(m, 17, sweep_clock::now() + std::chrono::hours(1), ANY_PASS);
    EXPECT_EQ(bounded.rounds, 7);

    // on_pass answering false stops the size at once, between passes, with its pass recorded.
    int seen = 0;
    size_run cut = run_size(m, 17, sweep_clock::now() + std::chrono::hours(1),
                            [&seen](const pass_record&) { return ++seen < 3; });
    EXPECT_TRUE(cut.stopped);
    EXPECT_EQ(cut.passes.size(), 3u);
    EXPECT_EQ(cut.rounds, 1);
    EXPECT_EQ(summarize(m, 17, cut).result, verdict::interrupted);
  }).join();
}

TEST(RunSize, SetsTheStepsFromThePassTime) {
  int cpu = first_allowed();
  std::thread([cpu] {
    method m = tiny_method(cpu);
    m.steps = 0;
    m.pass_ms = 0.2;
    m.rounds = 1;
    size_run run = run_size(m, 17, sweep_clock::now(), ANY_PASS);
    ASSERT_EQ(run.passes.size(), 2u);
    // About 0.2 ms a pass: a loose bound, for the machine is shared, but one that a wrong unit
    // (steps taken for ns, or ms for us) would break by orders of magnitude.
    EXPECT_GT(run.steps, 1000);
    EXPECT_LT(run.steps, 20000000);
    EXPECT_EQ(run.passes[0].steps, run.steps);
    EXPECT_GT(run.warmup_ns, 0);
  }).join();
}

TEST(TimeBudget, TimeADecidedUnitLeavesGoesToTheOnesAfterIt) {
  const sweep_clock::time_point t0{};
  const time_budget b{t0, 100.0, 4};
  auto at = [t0](double s) {
    return t0 + std::chrono::duration_cast<sweep_clock::duration>(std::chrono::duration<double>(s));
  };
  auto seconds = [](sweep_clock::duration d) { return std::chrono::duration<double>(d).count(); };
  EXPECT_NEAR(seconds(unit_deadline(b, 0, at(0)) - at(0)), 25.0, 1e-6);
  // The first unit took 5 s of its 25: the three others share the 95 s left.
  EXPECT_NEAR(seconds(unit_deadline(b, 1, at(5)) - at(5)), 95.0 / 3, 1e-6);
  // The last unit gets all that is left; a spent budget gives no time at all.
  EXPECT_NEAR(seconds(unit_deadline(b, 3, at(70)) - at(70)), 30.0, 1e-6);
  EXPECT_EQ(unit_deadline(b, 3, at(120)), at(120));
  EXPECT_NEAR(budget_left(b, at(40)), 60.0, 1e-6);
  EXPECT_EQ(budget_left(b, at(150)), 0.0);
}

}  // namespace
