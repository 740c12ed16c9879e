// The sweep's method: the order of the passes, the pairing of a round's passes in the summary,
// and the load worker's start, pause and stop, which ThreadSanitizer checks in its build.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "bench/setup.h"
#include "platform/platform.h"
#include "sweep/method.h"

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
  size_summary s = summarize(17, passes, true);
  EXPECT_NEAR(s.gain, 10.0, 1e-9);
  EXPECT_NEAR(s.ci.low, 10.0, 1e-9);
  EXPECT_NEAR(s.ci.high, 10.0, 1e-9);
  EXPECT_EQ(s.result, verdict::pinned_faster);
  EXPECT_NEAR(s.default_ns, (250.0 + 300.0) / 2 / 10, 1e-9);  // median of 100 … 450, per step
  EXPECT_NEAR(s.alone_ns, (125.0 + 150.0) / 2 / 10, 1e-9);

  // The same passes with a restriction that failed: medians, but no result.
  size_summary unpinned = summarize(17, passes, false);
  EXPECT_EQ(unpinned.result, verdict::not_pinned);
  EXPECT_NEAR(unpinned.default_ns, s.default_ns, 1e-9);
}

TEST(Summarize, SlowerPinnedPasses) {
  std::vector<pass_record> passes;
  for (int r = 0; r < 6; ++r) {
    passes.push_back(rec(r, k::default_affinity, 100 + r));
    passes.push_back(rec(r, k::pinned, 200 + r));
  }
  size_summary s = summarize(17, passes, true);
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

TEST(RunSize, RecordsEveryPassInItsPlace) {
  // In a thread of its own: the run pins and releases its calling thread.
  int cpu = first_allowed();
  std::thread([cpu] {
    method m{6, 2000, cpu, cpu, true};
    int seen = 0;
    size_run run = run_size(m, 17, [&seen](const pass_record&) { ++seen; });
    ASSERT_TRUE(run.buffers);
    ASSERT_TRUE(run.worker);
    EXPECT_TRUE(run.load_pinned && run.probe_pinned && run.probe_released);
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
      EXPECT_GT(p.ns, 0);
      EXPECT_TRUE(p.held);
    }
  }).join();
}

}  // namespace
