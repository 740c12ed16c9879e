// Test helpers on Linux: sched_getcpu and the thread's CPU set.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "tests/cpu.h"

int current_processor() {
  return sched_getcpu();
}

std::uint64_t thread_affinity() {
  cpu_set_t set;
  CPU_ZERO(&set);
  pthread_getaffinity_np(pthread_self(), sizeof set, &set);
  std::uint64_t mask = 0;
  for (int cpu = 0; cpu < 64; ++cpu) {
    if (CPU_ISSET(cpu, &set)) {
      mask |= std::uint64_t{1} << cpu;
    }
  }
  return mask;
}

int processor_count() {
  return static_cast<int>(sysconf(_SC_NPROCESSORS_CONF));
}
