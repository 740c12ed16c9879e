// Platform services on Linux: CLOCK_MONOTONIC for the tick counter, a detached POSIX thread for
// the load thread, and thread affinity through pthread_setaffinity_np.
#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <new>

#include "platform/platform.h"

namespace {

// The processors the process was allowed when it started (by taskset, a cpuset or the whole
// machine). Like a Windows process affinity mask it bounds every thread restriction, so the
// benchmark never moves a thread onto a processor the user kept it off.
cpu_set_t start_affinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    CPU_ZERO(&set);
  }
  return set;
}

const cpu_set_t allowed = start_affinity();

void* run(void* arg) {
  thread_proc proc = *static_cast<thread_proc*>(arg);
  delete static_cast<thread_proc*>(arg);
  proc(nullptr);
  return nullptr;
}

}  // namespace

std::uint32_t tick_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

bool start_thread(thread_proc proc) {
  thread_proc* arg = new (std::nothrow) thread_proc(proc);
  if (arg == nullptr) {
    return false;
  }
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run, arg) != 0) {
    delete arg;
    return false;
  }
  pthread_detach(thread);
  return true;
}

bool restrict_current_thread(std::uint64_t mask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < 64; ++cpu) {
    if ((mask >> cpu) & 1u) {
      if (!CPU_ISSET(cpu, &allowed)) {
        return false;
      }
      CPU_SET(cpu, &set);
    }
  }
  if (CPU_COUNT(&set) == 0) {
    return false;
  }
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}
