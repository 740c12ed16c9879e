// The sweep's method: for one buffer size, a load worker pinned to its processor and rounds of
// paired default and pinned passes in alternating order; and the summary of those rounds.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sweep/stats.h"

enum class pass_kind { default_affinity, pinned, alone };

// "default", "pinned" or "alone", as the CSV and JSON name them.
const char* kind_name(pass_kind kind);

struct pass_record {
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

// The load: a thread pinned to one processor that runs passes over its own buffer until it is
// stopped. It looks at its flags only between passes, never inside the step loop, so pausing
// or stopping it waits for its current pass to end.
struct load_worker {
  const unsigned char* buf = nullptr;
  std::int32_t steps = 0;
  int cpu = 0;
  std::thread thread;
  std::mutex lock;  // guards the flags below
  std::condition_variable changed;
  bool started = false;  // the worker has tried to pin itself
  bool pinned = false;   // and it succeeded
  bool pause = false;    // asked to wait between passes
  bool idle = false;     // waiting, as asked
  bool stop = false;
  std::int64_t passes = 0;  // passes it has finished
};

// Starts w's thread and waits until it has tried to pin itself to w.cpu. False when no thread
// could be started.
bool start_worker(load_worker& w);
// Returns once the worker is between passes and waiting.
void pause_worker(load_worker& w);
void resume_worker(load_worker& w);
// Stops and joins the worker.
void stop_worker(load_worker& w);

struct size_run {
  bool buffers = false;  // both buffers were obtained
  bool worker = false;   // the load thread was started
  bool load_pinned = false;
  bool probe_pinned = true;    // every pinned (and alone) pass was pinned to the probe
  bool probe_released = true;  // every default pass had every allowed processor
  std::int64_t warmup_ns = 0;
  std::vector<pass_record> passes;
};

struct method {
  int rounds = 0;
  std::int32_t steps = 0;
  int probe_cpu = 0;
  int load_cpu = 0;
  bool alone = false;
};

// Measures one size: obtains and fills both buffers, starts the load worker, runs a warm-up
// pass and then the rounds, calling on_pass after each timed pass, and stops the worker. The
// calling thread's affinity is left released. Uses bufmask, so no other pass may run meanwhile.
size_run run_size(const method& m, int buflog,
                  const std::function<void(const pass_record&)>& on_pass);

struct size_summary {
  int buflog = 0;
  bool held = false;        // every restriction of the size took effect: a result is claimed
  double default_ns = 0.0;  // medians, ns per step
  double pinned_ns = 0.0;
  double alone_ns = 0.0;  // 0 without --alone
  double gain = 0.0;      // median paired gain, percent
  interval ci;
  verdict result = verdict::not_pinned;
};

// The medians, the median paired gain with its interval, and the verdict of one size's passes.
size_summary summarize(int buflog, const std::vector<pass_record>& passes, bool held);
