// Platform services on Linux: CLOCK_MONOTONIC for the tick counter, a detached POSIX thread for
// the load thread, thread affinity through pthread_setaffinity_np, and the processor topology,
// model and system name from sysfs, /proc/cpuinfo and uname. For the sweep's interruption and
// files: sigaction, stat and readlink, and mkstemp, fsync and rename.
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
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

// --- Interruption and files the sweep writes.

namespace {

// A lock-free atomic, not a volatile sig_atomic_t: other threads read the flag too, and only an
// atomic makes that free of data races, while lock-freedom is what makes it safe in a handler.
std::atomic<bool> interrupt_seen{false};
static_assert(std::atomic<bool>::is_always_lock_free,
              "the handler may only touch lock-free atomics");

constexpr int INTERRUPTED_STATUS = 128 + SIGINT;

// The exchange, not a load and a store, so that a SIGTERM arriving during a SIGINT's handler is
// still the second interruption.
void on_interrupt(int) {
  if (interrupt_seen.exchange(true, std::memory_order_relaxed)) {
    _exit(INTERRUPTED_STATUS);
  }
}

}  // namespace

void watch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  // The main thread may be inside a write or a wait when the first one arrives; it must carry on
  // as if nothing had happened and look at the flag between passes.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() {
  return interrupt_seen.load(std::memory_order_relaxed);
}

int interrupted_status() {
  return INTERRUPTED_STATUS;
}

namespace {

// What identifies the file a path names: device and inode of the file, or, for one that does not
// exist yet, of its directory together with its last component.
struct file_key {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;  // empty for an existing file
};

bool operator==(const file_key& x, const file_key& y) {
  return x.dev == y.dev && x.ino == y.ino && x.name == y.name;
}

// The directory part of path ("." when it has none) and its last component.
void split_path(const std::string& path, std::string* dir, std::string* name) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    *dir = ".";
    *name = path;
  } else {
    *dir = slash == 0 ? "/" : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

// The kernel's own bound on links followed in one lookup (MAXSYMLINKS).
constexpr int LINK_HOPS = 40;

// Follows the symbolic links that path's last component leads through, relative to the directory
// of each, so that *path names the file itself, or, from a dangling link, the file that opening
// the link would create. False on a loop or a link that cannot be read.
bool follow_links(std::string* path) {
  for (int hop = 0; hop < LINK_HOPS; ++hop) {
    struct stat info;
    if (lstat(path->c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      return true;
    }
    std::string link(PATH_MAX, '\0');
    ssize_t length = readlink(path->c_str(), link.data(), link.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= link.size()) {
      return false;  // gone since lstat, or too long to be followed
    }
    link.resize(static_cast<std::size_t>(length));
    if (link[0] != '/') {
      std::string dir;
      std::string name;
      split_path(*path, &dir, &name);
      link.insert(0, dir + '/');
    }
    path->swap(link);
  }
  return false;
}

bool file_key_of(std::string path, file_key* key) {
  if (!follow_links(&path)) {
    return false;
  }
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    *key = {info.st_dev, info.st_ino, ""};
    return true;
  }
  // A file used as a directory or a directory it may not search: no file could be made there.
  if (errno != ENOENT) {
    return false;
  }
  std::string dir;
  std::string name;
  split_path(path, &dir, &name);
  // "x/" and "x/.." cannot be created as files.
  if (name.empty() || name == "." || name == ".." || stat(dir.c_str(), &info) != 0 ||
      !S_ISDIR(info.st_mode)) {
    return false;
  }
  *key = {info.st_dev, info.st_ino, name};
  return true;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  file_key key_a;
  file_key key_b;
  return file_key_of(a, &key_a) && file_key_of(b, &key_b) && key_a == key_b;
}

namespace {

// The mode fopen gives a new file, 0666 less the umask. The umask can only be read by setting it,
// which would change the mode of a file another thread creates meanwhile; done once, during static
// initialisation, no other thread exists yet. The program never changes its umask.
mode_t read_new_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

const mode_t new_file_mode = read_new_file_mode();

// What mkstemp replaces with its own letters; the temporary name is the name of the file it will
// replace followed by this.
constexpr char TEMP_SUFFIX[] = ".XXXXXX";

std::string problem_text(const char* what, const std::string& path, int error) {
  return std::string(what) + " " + path + ": " + std::strerror(error);
}

}  // namespace

bool open_pending(const std::string& target, pending_file* file, std::string* problem) {
  *file = pending_file();
  // fopen writes through a symbolic link, where a rename would put a file in the link's place.
  std::string path = target;
  if (!follow_links(&path)) {
    *problem = problem_text("cannot create", target, ELOOP);
    return false;
  }
  // The rename would fail on a directory, but only once the sweep has measured everything.
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    *problem = problem_text("cannot create", target, EISDIR);
    return false;
  }
  std::string temp = path + TEMP_SUFFIX;
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *problem = problem_text("cannot create", target, errno);
    return false;
  }
  std::FILE* out = nullptr;
  if (fchmod(fd, new_file_mode) != 0 || (out = fdopen(fd, "w")) == nullptr) {
    int error = errno;
    close(fd);
    unlink(temp.c_str());
    *problem = problem_text("cannot create", target, error);
    return false;
  }
  file->out = out;
  file->temp = temp;
  file->target = target;
  return true;
}

bool commit_pending(pending_file* file, std::string* problem) {
  pending_file done = *file;
  *file = pending_file();
  if (done.out == nullptr) {
    *problem = "cannot write " + done.target + ": it is not open";
    return false;
  }
  // A write that failed earlier leaves the error flag set but errno long overwritten.
  errno = 0;
  int error = 0;
  if (std::fflush(done.out) != 0 || std::ferror(done.out) != 0) {
    error = errno != 0 ? errno : EIO;
  } else if (fsync(fileno(done.out)) != 0) {
    error = errno;
  }
  if (std::fclose(done.out) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    unlink(done.temp.c_str());
    *problem = problem_text("cannot write", done.target, error);
    return false;
  }
  std::string path = done.temp.substr(0, done.temp.size() - (sizeof TEMP_SUFFIX - 1));
  if (std::rename(done.temp.c_str(), path.c_str()) != 0) {
    error = errno;
    unlink(done.temp.c_str());
    *problem = problem_text("cannot replace", done.target, error);
    return false;
  }
  return true;
}

void discard_pending(pending_file* file) {
  if (file->out != nullptr) {
    std::fclose(file->out);
    unlink(file->temp.c_str());
  }
  *file = pending_file();
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
