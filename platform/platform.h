// Operating-system services the benchmark needs: a millisecond tick counter, starting the load
// thread, and restricting the calling thread to a set of logical processors; and for the sweep,
// the processors the process may use, how two of them are related, and facts for its record. Each
// operating system has its own source file; this header names no type of any of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The thread procedure's calling convention must match the one the operating system calls it
// with, so that it is handed over without a cast.
#if defined(_WIN32)
#define THREAD_CALL __stdcall
#else
#define THREAD_CALL
#endif

// A thread procedure: takes the (unused) per-thread argument, returns an exit code. The return
// type is unsigned long because that is the native thread routine's result type on Windows.
typedef unsigned long(THREAD_CALL* thread_proc)(void* arg);

// Milliseconds since an arbitrary start, from a clock that only moves forward. Wraps modulo
// 2^32: the difference of two readings, taken as unsigned, is the elapsed time.
std::uint32_t tick_ms();

// Starts a thread running proc and returns at once; the thread is never joined and may still
// be running when the process ends. False when the thread could not be created.
bool start_thread(thread_proc proc);

// Restricts the calling thread to the logical processors whose bits are set in mask (bit n is
// processor n). The mask must lie within the processors the process may use; otherwise nothing
// changes. True when the thread now runs only on processors in mask.
bool restrict_current_thread(std::uint64_t mask);

// --- Services the sweep needs besides the above.

// The logical processors the process may use, in ascending order: on Linux the affinity the
// process started with (taskset, a cpuset or the whole machine), on Windows the process
// affinity mask. Empty when they cannot be read.
std::vector<int> allowed_processors();

// Gives the calling thread back every processor in allowed_processors(), undoing
// restrict_current_thread. True when it took effect.
bool unrestrict_current_thread();

// How two logical processors are related: what the two threads on them share.
enum class cpu_relation {
  unknown,        // the topology could not be read
  same,           // one logical processor
  smt_siblings,   // two hardware threads of one core
  shared_llc,     // two cores that share the last-level cache
  separate_llc,   // two cores of one package, each with its own last-level cache
  other_package,  // two packages (sockets)
};
// The relation of processors a and b, same whenever a == b (not negative) without reading
// anything. On Linux from sysfs; on Windows from the processor information of group 0, so only
// for processors 0 to 63. unknown also where a or b is no processor of the machine.
cpu_relation processor_relation(int a, int b);

// The processor's model name, as the operating system reports it ("" when unknown).
std::string cpu_model();

// The operating system's name, version and machine, for the record of a result
// ("Linux 6.1.0-18-amd64 x86_64", "Windows 10.0.19045"); at least "Linux" or "Windows".
std::string os_name();

// True when standard error is a terminal (progress is shown only there).
bool stderr_is_terminal();

// --- Where each processor sits, for choosing processor pairs.

#include <algorithm>
#include <cstddef>

// Where one logical processor sits: the processors it shares a core with (its SMT siblings,
// itself included) and its last-level cache with, and its package. Two processors are SMT
// siblings when each is in the other's core list, share the last-level cache when each is in the
// other's llc list, and are in one package when their package names are equal.
struct cpu_place {
  int cpu = -1;
  std::string package;         // as the system names it; "" when unknown
  std::vector<int> core_cpus;  // ascending
  std::vector<int> llc_cpus;   // ascending; the highest-level data or unified cache
};

// The places of the processors in cpus, in the same order. False when any of them cannot be
// read (a container without sysfs, an unknown layout), so the caller can say so and fall back;
// *places is then left as it was. Read once for all of them: choosing pairs among hundreds of
// processors must not read the system per pair.
bool processor_places(const std::vector<int>& cpus, std::vector<cpu_place>* places);

// How two places relate, as processor_relation says it of their processors: same when a.cpu ==
// b.cpu, unknown when either names no processor or lacks the name or list that would decide.
// Mutual membership keeps the answer the same either way round, even where the lists disagree.
inline cpu_relation place_relation(const cpu_place& a, const cpu_place& b) {
  if (a.cpu < 0 || b.cpu < 0) {
    return cpu_relation::unknown;
  }
  if (a.cpu == b.cpu) {
    return cpu_relation::same;
  }
  if (a.package.empty() || b.package.empty()) {
    return cpu_relation::unknown;
  }
  if (a.package != b.package) {
    return cpu_relation::other_package;
  }
  auto each_in_other = [&a, &b](const std::vector<int>& of_a, const std::vector<int>& of_b) {
    return std::binary_search(of_a.begin(), of_a.end(), b.cpu) &&
           std::binary_search(of_b.begin(), of_b.end(), a.cpu);
  };
  if (a.core_cpus.empty() || b.core_cpus.empty()) {
    return cpu_relation::unknown;
  }
  if (each_in_other(a.core_cpus, b.core_cpus)) {
    return cpu_relation::smt_siblings;
  }
  if (a.llc_cpus.empty() || b.llc_cpus.empty()) {
    return cpu_relation::unknown;
  }
  return each_in_other(a.llc_cpus, b.llc_cpus) ? cpu_relation::shared_llc
                                               : cpu_relation::separate_llc;
}

// Windows only: the places of cpus (each 0 to 63) from info, size bytes as
// GetLogicalProcessorInformationEx(RelationAll) fills them; processor_places hands it the running
// machine's, the tests a buffer of their own. The packages are named "0", "1", ... in the order
// their records come. False when the buffer is malformed or does not place every one of cpus;
// *places is then left as it was.
bool processor_info_places(const void* info, std::size_t size, const std::vector<int>& cpus,
                           std::vector<cpu_place>* places);
