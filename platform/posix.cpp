// Platform services on Linux: CLOCK_MONOTONIC for the tick counter, a detached POSIX thread for
// the load thread, thread affinity through pthread_setaffinity_np, and the processor topology,
// model and system name from sysfs, /proc/cpuinfo and uname.
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <new>

#include "platform/platform.h"
#include "platform/sysfs.h"

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

// The first line of a file without its trailing blanks (sysfs ends every value with a newline).
// False when the file cannot be read.
bool read_line(const std::string& path, std::string* line) {
  std::ifstream in(path);
  if (!std::getline(in, *line)) {
    return false;
  }
  line->erase(line->find_last_not_of(" \t\r\n") + 1);
  return true;
}

// Reads the decimal number at text[*pos], advancing *pos past it. The digit limit keeps any
// value far from overflow; no processor number or cache level comes near it.
bool parse_number(const std::string& text, std::size_t* pos, int* value) {
  std::size_t start = *pos;
  int n = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
    if (*pos - start == 7) {
      return false;
    }
    n = n * 10 + (text[*pos] - '0');
    ++*pos;
  }
  *value = n;
  return *pos > start;
}

// The whole of text as one non-negative number.
bool parse_int(const std::string& text, int* value) {
  std::size_t pos = 0;
  return parse_number(text, &pos, value) && pos == text.size();
}

bool read_int(const std::string& path, int* value) {
  std::string line;
  return read_line(path, &line) && parse_int(line, value);
}

// One item of a kernel CPU list: first to last inclusive, a lone number as a range of one.
struct cpu_range {
  int first = 0;
  int last = 0;
};

// The ranges of a kernel CPU list such as "0-3,8-11" (numbers and inclusive ranges,
// comma-separated; empty for none), in the order given. False when the list is malformed.
bool cpu_ranges(const std::string& list, std::vector<cpu_range>* ranges) {
  ranges->clear();
  if (list.empty()) {
    return true;
  }
  std::size_t pos = 0;
  for (;;) {
    int first = 0;
    if (!parse_number(list, &pos, &first)) {
      return false;
    }
    int last = first;
    if (pos < list.size() && list[pos] == '-') {
      ++pos;
      if (!parse_number(list, &pos, &last) || last < first) {
        return false;
      }
    }
    ranges->push_back({first, last});
    if (pos == list.size()) {
      return true;
    }
    if (list[pos] != ',') {
      return false;
    }
    ++pos;
  }
}

// Sets *found to whether cpu is in a kernel CPU list. False when the list is malformed.
bool in_cpu_list(const std::string& list, int cpu, bool* found) {
  std::vector<cpu_range> ranges;
  if (!cpu_ranges(list, &ranges)) {
    return false;
  }
  *found = std::any_of(ranges.begin(), ranges.end(), [cpu](const cpu_range& range) {
    return range.first <= cpu && cpu <= range.last;
  });
  return true;
}

// The shared_cpu_list of the last-level cache of the processor in cpu_dir: among its
// cache/index* directories, the one of the highest level that holds data (an instruction cache
// never holds the buffers). False when the caches cannot be read.
bool llc_cpus(const std::string& cpu_dir, std::string* shared) {
  std::string cache_dir = cpu_dir + "/cache";
  DIR* dir = opendir(cache_dir.c_str());
  if (dir == nullptr) {
    return false;
  }
  std::vector<int> indices;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    int index = 0;
    if (name.compare(0, 5, "index") == 0 && parse_int(name.substr(5), &index)) {
      indices.push_back(index);
    }
  }
  closedir(dir);
  // In index order, so that the choice does not depend on the order readdir gives.
  std::sort(indices.begin(), indices.end());
  int best_level = 0;
  std::string best;
  for (int index : indices) {
    std::string path = cache_dir + "/index" + std::to_string(index);
    int level = 0;
    std::string type;
    if (!read_int(path + "/level", &level) || !read_line(path + "/type", &type)) {
      return false;
    }
    if (type != "Instruction" && level > best_level) {
      best_level = level;
      best = path;
    }
  }
  return best_level > 0 && read_line(best + "/shared_cpu_list", shared);
}

}  // namespace

cpu_relation sysfs_relation(const std::string& root, int a, int b) {
  if (a < 0 || b < 0) {
    return cpu_relation::unknown;
  }
  if (a == b) {
    return cpu_relation::same;
  }
  std::string dir_a = root + "/cpu" + std::to_string(a);
  std::string dir_b = root + "/cpu" + std::to_string(b);
  // Compared as text: some kernels give -1 where the firmware names no package.
  std::string package_a;
  std::string package_b;
  if (!read_line(dir_a + "/topology/physical_package_id", &package_a) ||
      !read_line(dir_b + "/topology/physical_package_id", &package_b) || package_a.empty()) {
    return cpu_relation::unknown;
  }
  if (package_a != package_b) {
    return cpu_relation::other_package;
  }
  // Kernels since 5.7 also call the SMT siblings core_cpus; the older name may be gone one day.
  std::string siblings;
  bool found = false;
  if (!(read_line(dir_a + "/topology/thread_siblings_list", &siblings) ||
        read_line(dir_a + "/topology/core_cpus_list", &siblings)) ||
      !in_cpu_list(siblings, b, &found)) {
    return cpu_relation::unknown;
  }
  if (found) {
    return cpu_relation::smt_siblings;
  }
  std::string shared;
  if (!llc_cpus(dir_a, &shared) || !in_cpu_list(shared, b, &found)) {
    return cpu_relation::unknown;
  }
  return found ? cpu_relation::shared_llc : cpu_relation::separate_llc;
}

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
    if (((mask >> cpu) & 1u) != 0) {
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

std::vector<int> allowed_processors() {
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &allowed)) {
      cpus.push_back(cpu);
    }
  }
  return cpus;
}

bool unrestrict_current_thread() {
  if (CPU_COUNT(&allowed) == 0) {
    return false;
  }
  return pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed) == 0;
}

cpu_relation processor_relation(int a, int b) {
  return sysfs_relation("/sys/devices/system/cpu", a, b);
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    // "model name\t: AMD EPYC 7B13 64-Core Processor"; not every architecture has the line.
    if (line.compare(0, 10, "model name") == 0) {
      std::size_t colon = line.find(':');
      if (colon == std::string::npos) {
        return "";
      }
      std::size_t start = line.find_first_not_of(" \t", colon + 1);
      if (start == std::string::npos) {
        return "";
      }
      return line.substr(start, line.find_last_not_of(" \t\r") + 1 - start);
    }
  }
  return "";
}

std::string os_name() {
  utsname name;
  if (uname(&name) != 0) {
    return "Linux";
  }
  return std::string(name.sysname) + " " + name.release + " " + name.machine;
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

// --- Where each processor sits, for choosing processor pairs.

namespace {

// No Linux kernel can be built for more processors, so a list naming more is not a real one (and
// a range such as 0-9999999 is not expanded into millions of numbers).
constexpr int MAX_CPUS = 8192;

// The numbers of a kernel CPU list, ascending and without repeats. False when the list is
// malformed or names a processor no kernel has.
bool cpu_list(const std::string& list, std::vector<int>* cpus) {
  std::vector<cpu_range> ranges;
  if (!cpu_ranges(list, &ranges)) {
    return false;
  }
  cpus->clear();
  for (const cpu_range& range : ranges) {
    if (range.last >= MAX_CPUS) {
      return false;
    }
    for (int cpu = range.first; cpu <= range.last; ++cpu) {
      cpus->push_back(cpu);
    }
  }
  std::sort(cpus->begin(), cpus->end());
  cpus->erase(std::unique(cpus->begin(), cpus->end()), cpus->end());
  return true;
}

// The files of one processor that sysfs_relation reads, here all of them: a place must answer
// for any other processor it is compared with. An empty list cannot be a processor's own.
bool sysfs_place(const std::string& root, int cpu, cpu_place* place) {
  if (cpu < 0) {
    return false;
  }
  std::string dir = root + "/cpu" + std::to_string(cpu);
  std::string siblings;
  std::string shared;
  place->cpu = cpu;
  return read_line(dir + "/topology/physical_package_id", &place->package) &&
         !place->package.empty() &&
         (read_line(dir + "/topology/thread_siblings_list", &siblings) ||
          read_line(dir + "/topology/core_cpus_list", &siblings)) &&
         cpu_list(siblings, &place->core_cpus) && !place->core_cpus.empty() &&
         llc_cpus(dir, &shared) && cpu_list(shared, &place->llc_cpus) && !place->llc_cpus.empty();
}

}  // namespace

bool sysfs_places(const std::string& root, const std::vector<int>& cpus,
                  std::vector<cpu_place>* places) {
  std::vector<cpu_place> read(cpus.size());
  for (std::size_t i = 0; i < cpus.size(); ++i) {
    if (!sysfs_place(root, cpus[i], &read[i])) {
      return false;
    }
  }
  places->swap(read);
  return true;
}

bool processor_places(const std::vector<int>& cpus, std::vector<cpu_place>* places) {
  return sysfs_places("/sys/devices/system/cpu", cpus, places);
}
