// Operating-system services the benchmark needs: a millisecond tick counter, starting the load
// thread, and restricting the calling thread to a set of logical processors; and for the sweep,
// the processors the process may use, how two of them are related, and facts for its record. Each
// operating system has its own source file; this header names no type of any of them.
// The sweep also notices an interruption, to stop between passes, tells whether two paths name
// one file, and writes its files whole, under a temporary name.
#pragma once

#include <cstdint>
#include <cstdio>
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

// --- Interruption: SIGINT and SIGTERM on Linux, Ctrl-C and Ctrl-Break on Windows.

// Installs the handlers. From then on the first interruption only sets a flag that
// interrupted() reports (the program stops at a point of its own choosing, between passes);
// a second one ends the process at once with interrupted_status(), writing nothing more. Call
// once, from the main thread, before any other thread starts. An interruption the process was
// started with ignored (a job run with & by a script) is watched too, so that kill and timeout
// stop the sweep however it was started.
void watch_interrupts();

// True once an interruption has arrived. Safe to call from any thread, often (a relaxed load).
bool interrupted();

// The exit status of a program that stopped because it was interrupted: 130 on Linux (128 +
// SIGINT, what a shell reports), on Windows STATUS_CONTROL_C_EXIT (0xC000013A), what a console
// program ended by Ctrl-C returns.
int interrupted_status();

// --- Files.

// True when paths a and b name the same file: on Linux the same device and inode, on Windows the
// same volume serial number and file index. For a path that does not exist yet, what exists of it
// is resolved: its directory (following symbolic links) and its last component, so that "x.csv",
// "./x.csv" and "dir/../x.csv" are one file before either is created (on Windows whatever the
// case of the last component). A symbolic link names the file it points to; on Linux a dangling
// one names the file it would create. False when they differ or when a path cannot be resolved
// at all.
bool same_file(const std::string& a, const std::string& b);

// A file that takes its name only when it is complete: written under a temporary name in the
// target's own directory (so that the rename stays on one file system) and renamed over the
// target by commit_pending, so the target always holds either its previous contents or the whole
// new ones, never a fragment.
struct pending_file {
  std::FILE* out = nullptr;  // write here (opened like fopen(..., "w"))
  std::string temp;          // its temporary name
  std::string target;
};

// Creates the temporary file beside target. False, with the problem in *problem ("cannot create
// DIR/x.json: Permission denied"), when the target's directory cannot take a new file; this is how
// the sweep checks, before it measures anything, that its JSON can be written. The file is made
// with the permissions fopen would give a new one; a target it replaces loses its own. On Linux a
// target that is a symbolic link stays one: the file it leads to is the one replaced, as fopen
// would write there.
bool open_pending(const std::string& target, pending_file* file, std::string* problem);

// Flushes the file, forces it to the disk (fsync / _commit), closes it and renames it over the
// target (rename; MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). False with
// the problem in *problem; the temporary file is then removed and the target left as it was.
// Either way *file is left with nothing open.
bool commit_pending(pending_file* file, std::string* problem);

// Closes and removes the temporary file, leaving the target as it was (nothing when none is open).
void discard_pending(pending_file* file);

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
