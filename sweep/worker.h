// The sweep's load: a thread pinned to one processor that runs passes over its own buffer until
// it is stopped, the competing workload of every round.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// It looks at its flags only between passes, never inside the step loop, so pausing or stopping
// it waits for its current pass to end.
struct load_worker {
  const unsigned char* buf = nullptr;
  int cpu = 0;
  std::thread thread;
  std::mutex lock;  // guards the fields below
  std::condition_variable changed;
  std::int32_t steps = 0;  // steps of its next pass; set_worker_steps changes it
  bool started = false;    // the worker has tried to pin itself
  bool pinned = false;     // and it succeeded
  bool pause = false;      // asked to wait between passes
  bool idle = false;       // waiting, as asked
  bool stop = false;
  std::int64_t passes = 0;  // passes it has finished
};

// Starts w's thread and waits until it has tried to pin itself to w.cpu. False when no thread
// could be started.
bool start_worker(load_worker& w);
// Its passes from the next one on take this many steps: the probe's, once the warm-up has set
// them, so that the load stays the same workload.
void set_worker_steps(load_worker& w, std::int32_t steps);
// Returns once the worker is between passes and waiting.
void pause_worker(load_worker& w);
void resume_worker(load_worker& w);
// Stops and joins the worker.
void stop_worker(load_worker& w);
