// The sweep's method. Each size gets fresh buffers filled as the program fills them, and a
// load worker of its own that is stopped and joined before the next size changes bufmask.
#include "sweep/method.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>
#include <system_error>

#include "bench/setup.h"
#include "bench/pass.h"
#include "platform/platform.h"

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

void work(load_worker* w) {
  bool pinned = restrict_current_thread(std::uint64_t{1} << w->cpu);
  std::unique_lock<std::mutex> hold(w->lock);
  w->started = true;
  w->pinned = pinned;
  w->changed.notify_all();
  for (;;) {
    if (w->pause && !w->stop) {
      w->idle = true;
      w->changed.notify_all();
      w->changed.wait(hold, [w] { return !w->pause || w->stop; });
      w->idle = false;
    }
    if (w->stop) {
      return;
    }
    hold.unlock();
    std::uint32_t sum = pass_sum(w->buf, w->steps);
    pass_sink.store(static_cast<std::int32_t>(sum), std::memory_order_relaxed);
    hold.lock();
    ++w->passes;
  }
}

// One pass of the step loop, timed with the monotonic clock; the clock is read right before
// and right after the loop and nowhere inside it.
std::int64_t timed_ns(const unsigned char* buf, std::int32_t steps) {
  auto start = std::chrono::steady_clock::now();
  std::uint32_t sum = pass_sum(buf, steps);
  auto end = std::chrono::steady_clock::now();
  pass_sink.store(static_cast<std::int32_t>(sum), std::memory_order_relaxed);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
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

}  // namespace

bool start_worker(load_worker& w) {
  try {
    w.thread = std::thread(work, &w);
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock<std::mutex> hold(w.lock);
  w.changed.wait(hold, [&w] { return w.started; });
  return true;
}

void pause_worker(load_worker& w) {
  std::unique_lock<std::mutex> hold(w.lock);
  w.pause = true;
  w.changed.wait(hold, [&w] { return w.idle; });
}

void resume_worker(load_worker& w) {
  std::lock_guard<std::mutex> hold(w.lock);
  w.pause = false;
  w.changed.notify_all();
}

void stop_worker(load_worker& w) {
  {
    std::lock_guard<std::mutex> hold(w.lock);
    w.stop = true;
    w.changed.notify_all();
  }
  w.thread.join();
}

size_run run_size(const method& m, int buflog,
                  const std::function<void(const pass_record&)>& on_pass) {
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
  w.steps = m.steps;
  w.cpu = m.load_cpu;
  if (!start_worker(w)) {
    return run;
  }
  run.worker = true;
  run.load_pinned = w.pinned;

  run.probe_released = unrestrict_current_thread();
  run.warmup_ns = timed_ns(probe.get(), m.steps);

  const std::uint64_t probe_mask = std::uint64_t{1} << m.probe_cpu;
  for (int round = 0; round < m.rounds; ++round) {
    std::vector<pass_kind> order = round_order(round, m.alone);
    for (std::size_t i = 0; i < order.size(); ++i) {
      pass_record rec;
      rec.buflog = buflog;
      rec.round = round;
      rec.kind = order[i];
      rec.position = static_cast<int>(i);
      rec.steps = m.steps;
      bool held = rec.kind == pass_kind::default_affinity ? unrestrict_current_thread()
                                                          : restrict_current_thread(probe_mask);
      if (rec.kind == pass_kind::default_affinity) {
        run.probe_released = run.probe_released && held;
      } else {
        run.probe_pinned = run.probe_pinned && held;
      }
      // The alone pass times the pinned pass without the load, so only it pauses the worker.
      if (rec.kind == pass_kind::alone) {
        pause_worker(w);
      }
      rec.ns = timed_ns(probe.get(), m.steps);
      if (rec.kind == pass_kind::alone) {
        resume_worker(w);
      } else {
        held = held && run.load_pinned;
      }
      rec.held = held;
      run.passes.push_back(rec);
      on_pass(rec);
    }
  }
  stop_worker(w);
  unrestrict_current_thread();
  return run;
}

size_summary summarize(int buflog, const std::vector<pass_record>& passes, bool held) {
  size_summary s;
  s.buflog = buflog;
  s.held = held;
  std::vector<double> by_kind[3];
  // A round's default and pinned passes, paired by round number.
  std::vector<double> default_of;
  std::vector<double> pinned_of;
  int rounds = 0;
  for (const pass_record& p : passes) {
    if (p.buflog == buflog && p.round + 1 > rounds) {
      rounds = p.round + 1;
    }
  }
  default_of.assign(static_cast<std::size_t>(rounds), -1.0);
  pinned_of.assign(static_cast<std::size_t>(rounds), -1.0);
  for (const pass_record& p : passes) {
    if (p.buflog != buflog || p.steps <= 0) {
      continue;
    }
    double per_step = static_cast<double>(p.ns) / p.steps;
    by_kind[static_cast<int>(p.kind)].push_back(per_step);
    if (p.kind == pass_kind::default_affinity) {
      default_of[static_cast<std::size_t>(p.round)] = per_step;
    } else if (p.kind == pass_kind::pinned) {
      pinned_of[static_cast<std::size_t>(p.round)] = per_step;
    }
  }
  s.default_ns = median(by_kind[static_cast<int>(pass_kind::default_affinity)]);
  s.pinned_ns = median(by_kind[static_cast<int>(pass_kind::pinned)]);
  s.alone_ns = median(by_kind[static_cast<int>(pass_kind::alone)]);
  if (!held) {
    s.result = verdict::not_pinned;
    return s;
  }
  std::vector<double> gains;
  for (std::size_t r = 0; r < default_of.size(); ++r) {
    if (default_of[r] > 0.0 && pinned_of[r] >= 0.0) {
      gains.push_back(paired_gain(default_of[r], pinned_of[r]));
    }
  }
  s.gain = median(gains);
  s.ci = median_interval(gains);
  s.result = judge(s.ci);
  return s;
}
