// The load worker. Its flags are guarded by one mutex and looked at between passes only: the step
// loop it runs is exactly the probe's, with nothing added.
#include "sweep/worker.h"

#include <system_error>

#include "bench/pass.h"
#include "platform/platform.h"

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
    std::int32_t steps = w->steps;
    hold.unlock();
    std::uint32_t sum = pass_sum(w->buf, steps);
    pass_sink.store(static_cast<std::int32_t>(sum), std::memory_order_relaxed);
    hold.lock();
    ++w->passes;
  }
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

void set_worker_steps(load_worker& w, std::int32_t steps) {
  std::lock_guard<std::mutex> hold(w.lock);
  w.steps = steps;
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
