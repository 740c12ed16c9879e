// Platform services on Windows: GetTickCount, CreateThread and SetThreadAffinityMask; the
// processor topology from GetLogicalProcessorInformationEx, the model name from the processor
// itself and the version from ntdll's RtlGetVersion. For the sweep's interruption and files:
// SetConsoleCtrlHandler, GetFileInformationByHandle, and the runtime's _open and _commit with
// MoveFileEx.
#include <cpuid.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "platform/platform.h"

static_assert(std::is_same<thread_proc, LPTHREAD_START_ROUTINE>::value,
              "thread_proc must be the native thread start routine type");

namespace {

// The process affinity mask, 0 when it cannot be read. It covers the process's processor group
// only: processors 0 to 63 on any machine this program pins on.
DWORD_PTR process_mask() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) == 0) {
    return 0;
  }
  return process;
}

// Whether processor cpu of group 0 is in a group mask.
bool holds(const GROUP_AFFINITY& group, int cpu) {
  return group.Group == 0 && ((group.Mask >> cpu) & 1u) != 0;
}

// Whether processor cpu of group 0 belongs to a core or package.
bool holds(const PROCESSOR_RELATIONSHIP& processor, int cpu) {
  const GROUP_AFFINITY* groups = processor.GroupMask;
  for (WORD i = 0; i < processor.GroupCount; ++i) {
    if (holds(groups[i], cpu)) {
      return true;
    }
  }
  return false;
}

// Whether two processors were each seen in some core (or package), and in one together.
struct membership {
  bool a = false;  // both must be seen: a processor in no core does not exist
  bool b = false;
  bool together = false;
};

void note(membership& m, const PROCESSOR_RELATIONSHIP& processor, int a, int b) {
  bool has_a = holds(processor, a);
  bool has_b = holds(processor, b);
  m.a = m.a || has_a;
  m.b = m.b || has_b;
  m.together = m.together || (has_a && has_b);
}

}  // namespace

std::uint32_t tick_ms() {
  return GetTickCount();
}

bool start_thread(thread_proc proc) {
  // The handle is never used: the thread runs until the process ends.
  return CreateThread(nullptr, 0, proc, nullptr, 0, nullptr) != nullptr;
}

bool restrict_current_thread(std::uint64_t mask) {
  // Fails, changing nothing, when mask is not within the process affinity mask.
  return SetThreadAffinityMask(GetCurrentThread(), static_cast<DWORD_PTR>(mask)) != 0;
}

std::vector<int> allowed_processors() {
  std::vector<int> cpus;
  DWORD_PTR mask = process_mask();
  for (int cpu = 0; cpu < 64; ++cpu) {
    if (((mask >> cpu) & 1u) != 0) {
      cpus.push_back(cpu);
    }
  }
  return cpus;
}

bool unrestrict_current_thread() {
  DWORD_PTR mask = process_mask();
  return mask != 0 && SetThreadAffinityMask(GetCurrentThread(), mask) != 0;
}

cpu_relation processor_relation(int a, int b) {
  if (a < 0 || b < 0 || a >= 64 || b >= 64) {
    return cpu_relation::unknown;
  }
  if (a == b) {
    return cpu_relation::same;
  }
  DWORD size = 0;
  if (GetLogicalProcessorInformationEx(RelationAll, nullptr, &size) != 0 ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return cpu_relation::unknown;
  }
  // operator new's alignment suits the records, which hold nothing wider than a pointer.
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  if (!buffer ||
      GetLogicalProcessorInformationEx(
          RelationAll, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get()),
          &size) == 0) {
    return cpu_relation::unknown;
  }
  membership core;
  membership package;
  int llc_level = 0;  // the highest data or unified cache that a uses
  bool llc_shared = false;
  DWORD offset = 0;
  while (offset < size) {
    const auto* info =
        reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get() + offset);
    if (info->Size == 0) {
      return cpu_relation::unknown;  // a broken record would loop forever
    }
    offset += info->Size;
    if (info->Relationship == RelationProcessorCore) {
      note(core, info->Processor, a, b);
    } else if (info->Relationship == RelationProcessorPackage) {
      note(package, info->Processor, a, b);
    } else if (info->Relationship == RelationCache) {
      const CACHE_RELATIONSHIP& cache = info->Cache;
      if ((cache.Type == CacheUnified || cache.Type == CacheData) && cache.Level > llc_level &&
          holds(cache.GroupMask, a)) {
        llc_level = cache.Level;
        llc_shared = holds(cache.GroupMask, b);
      }
    }
  }
  if (!core.a || !core.b || !package.a || !package.b) {
    return cpu_relation::unknown;
  }
  if (!package.together) {
    return cpu_relation::other_package;
  }
  if (core.together) {
    return cpu_relation::smt_siblings;
  }
  if (llc_level == 0) {
    return cpu_relation::unknown;
  }
  return llc_shared ? cpu_relation::shared_llc : cpu_relation::separate_llc;
}

std::string cpu_model() {
  // The processor's own brand string, CPUID leaves 0x80000002 to 0x80000004: the name Windows
  // shows, read without the registry, whose library affinity_gain.exe would then have to import.
  // The highest extended leaf: int from clang's header, unsigned from g++'s.
  if (static_cast<unsigned int>(__get_cpuid_max(0x80000000u, nullptr)) < 0x80000004u) {
    return "";
  }
  char name[49] = {};
  for (std::size_t part = 0; part < 3; ++part) {
    unsigned int regs[4] = {};
    __get_cpuid(0x80000002u + static_cast<unsigned int>(part), &regs[0], &regs[1], &regs[2],
                &regs[3]);
    std::memcpy(name + sizeof regs * part, regs, sizeof regs);
  }
  // Some processors pad their name with blanks, on either side.
  std::string model = name;
  std::size_t start = model.find_first_not_of(' ');
  if (start == std::string::npos) {
    return "";
  }
  return model.substr(start, model.find_last_not_of(' ') + 1 - start);
}

std::string os_name() {
  // GetVersionEx reports the version the program's manifest claims to know, not the system's;
  // RtlGetVersion tells the truth but is only reachable through ntdll's export table.
  typedef LONG(WINAPI * rtl_get_version)(RTL_OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC proc = ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (proc == nullptr) {
    return "Windows";
  }
  // Through void (*)(), the one function pointer type a cast to any other is not warned about.
  auto get_version = reinterpret_cast<rtl_get_version>(reinterpret_cast<void (*)()>(proc));
  RTL_OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  if (get_version(&info) != 0) {
    return "Windows";
  }
  return "Windows " + std::to_string(info.dwMajorVersion) + "." +
         std::to_string(info.dwMinorVersion) + "." + std::to_string(info.dwBuildNumber);
}

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

// --- Interruption and files the sweep writes.

namespace {

// Set by the handler, which Windows runs on a thread of its own, and read by any other thread.
std::atomic<bool> interrupt_seen{false};

BOOL WINAPI on_console_event(DWORD event) {
  // Closing the console, logging off and shutting down are left to the default handler, which
  // ends the process: Windows would end it shortly anyway.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    return FALSE;
  }
  if (interrupt_seen.exchange(true)) {
    // At once, like _exit on Linux. ExitProcess, which the default handler calls, would first
    // stop the main thread wherever it is, perhaps holding a stream's lock, and then run the C
    // runtime's shutdown, which flushes the streams and would wait for that lock for ever.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  }
  return TRUE;
}

}  // namespace

void watch_interrupts() {
  // A process started in a new process group, or by one that ignores Ctrl-C, inherits the
  // ignoring; as on Linux, the sweep watches for it all the same.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool interrupted() {
  return interrupt_seen.load(std::memory_order_relaxed);
}

int interrupted_status() {
  // The NTSTATUS bit pattern, which is what a process's exit code holds.
  return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

namespace {

// What identifies the file a path names: the volume serial number and file index of the file, or,
// for one that does not exist yet, of its directory together with its last component.
struct file_key {
  DWORD volume = 0;
  DWORD index_high = 0;
  DWORD index_low = 0;
  std::string name;  // empty for an existing file
};

// Opens path for no access at all, which any file allows whoever has it open, and reads its
// identity. False, with GetLastError's code in *error, when it cannot.
bool open_key(const std::string& path, file_key* key, DWORD* attributes, DWORD* error) {
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(handle, &info) != 0;
  *error = GetLastError();
  CloseHandle(handle);
  if (known) {
    key->volume = info.dwVolumeSerialNumber;
    key->index_high = info.nFileIndexHigh;
    key->index_low = info.nFileIndexLow;
    *attributes = info.dwFileAttributes;
  }
  return known;
}

bool file_key_of(const std::string& path, file_key* key) {
  DWORD attributes = 0;
  DWORD error = 0;
  if (open_key(path, key, &attributes, &error)) {
    return true;
  }
  // Only a missing last component: a missing directory is ERROR_PATH_NOT_FOUND.
  if (error != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  // GetFullPathName does to the name what the file system will: makes it absolute, takes . and
  // .. away, and drops the dots and blanks that end a last component.
  DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) {
    return false;
  }
  std::string full(size, '\0');
  char* name = nullptr;
  DWORD length = GetFullPathNameA(path.c_str(), size, full.data(), &name);
  if (length == 0 || length >= size || name == nullptr || *name == '\0') {
    return false;
  }
  // The directory keeps its last backslash: "C:" alone would be drive C's current directory.
  std::string dir(full.data(), name);
  if (!open_key(dir, key, &attributes, &error) || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  key->name = name;
  return true;
}

std::wstring wide(const std::string& text) {
  int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

// Whether two last components are one name: Windows ignores case, comparing by its own upper-case
// table, which is what CompareStringOrdinal uses.
bool same_name(const std::string& x, const std::string& y) {
  std::wstring wide_x = wide(x);
  std::wstring wide_y = wide(y);
  return CompareStringOrdinal(wide_x.data(), static_cast<int>(wide_x.size()), wide_y.data(),
                              static_cast<int>(wide_y.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  file_key key_a;
  file_key key_b;
  if (!file_key_of(a, &key_a) || !file_key_of(b, &key_b) || key_a.volume != key_b.volume ||
      key_a.index_high != key_b.index_high || key_a.index_low != key_b.index_low) {
    return false;
  }
  if (key_a.name.empty() || key_b.name.empty()) {
    return key_a.name.empty() && key_b.name.empty();
  }
  return same_name(key_a.name, key_b.name);
}

namespace {

std::string problem_text(const char* what, const std::string& path, int error) {
  return std::string(what) + " " + path + ": " + std::strerror(error);
}

// The system's words for a GetLastError code, without the full stop and line end they come with.
std::string system_text(DWORD code) {
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  std::string words(text, length);
  words.erase(words.find_last_not_of(" .\r\n") + 1);
  return words.empty() ? "error " + std::to_string(code) : words;
}

// Numbers the temporary names this process makes; with its process id they are new unless an
// earlier process of the same id left one behind, which the exclusive creation then skips.
std::atomic<unsigned> temp_count{0};

// Attempts at a new temporary name before giving up; each one that fails found a leftover.
constexpr int TEMP_ATTEMPTS = 100;

}  // namespace

bool open_pending(const std::string& target, pending_file* file, std::string* problem) {
  *file = pending_file();
  // MoveFileEx would refuse to replace either, but only once the sweep has measured everything.
  DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *problem = problem_text("cannot create", target, EISDIR);
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      *problem = problem_text("cannot create", target, EACCES);
      return false;
    }
  }
  for (int attempt = 0; attempt < TEMP_ATTEMPTS; ++attempt) {
    std::string temp = target + ".tmp" + std::to_string(GetCurrentProcessId()) + "." +
                       std::to_string(temp_count.fetch_add(1));
    // In text mode, as fopen(..., "w") opens.
    int fd = _open(temp.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EEXIST) {
      continue;
    }
    std::FILE* out = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (out == nullptr) {
      int error = errno;
      if (fd >= 0) {
        _close(fd);
        DeleteFileA(temp.c_str());
      }
      *problem = problem_text("cannot create", target, error);
      return false;
    }
    file->out = out;
    file->temp = temp;
    file->target = target;
    return true;
  }
  *problem = problem_text("cannot create", target, EEXIST);
  return false;
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
  } else if (_commit(_fileno(done.out)) != 0) {
    error = errno;
  }
  if (std::fclose(done.out) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    DeleteFileA(done.temp.c_str());
    *problem = problem_text("cannot write", done.target, error);
    return false;
  }
  if (MoveFileExA(done.temp.c_str(), done.target.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    DWORD code = GetLastError();
    DeleteFileA(done.temp.c_str());
    *problem = "cannot replace " + done.target + ": " + system_text(code);
    return false;
  }
  return true;
}

void discard_pending(pending_file* file) {
  if (file->out != nullptr) {
    std::fclose(file->out);
    DeleteFileA(file->temp.c_str());
  }
  *file = pending_file();
}

// --- Where each processor sits, for choosing processor pairs.

#include <algorithm>
#include <cstddef>

namespace {

// What the records say of one processor of group 0; zero or -1 where no record named it.
struct sighting {
  std::uint64_t core = 0;  // the group-0 processors of its core
  int package = -1;        // the index of its package's record among the package records
  int llc_level = 0;       // its highest data or unified cache so far
  std::uint64_t llc = 0;   // the group-0 processors of that cache
};

// The processors of a mask, ascending.
std::vector<int> mask_cpus(std::uint64_t mask) {
  std::vector<int> cpus;
  for (int cpu = 0; cpu < 64; ++cpu) {
    if (((mask >> cpu) & 1u) != 0) {
      cpus.push_back(cpu);
    }
  }
  return cpus;
}

// Where a record's union starts, and a core's or package's first group mask within it.
constexpr std::size_t BODY = offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor);
constexpr std::size_t GROUP_MASKS = BODY + offsetof(PROCESSOR_RELATIONSHIP, GroupMask);

// The group-0 processors of the core or package record at record, size bytes long; false when
// its group masks run past its end. The records are copied out rather than cast in place: a
// buffer that did not come from the system need not be aligned.
bool group0_mask(const unsigned char* record, std::size_t size, WORD groups, std::uint64_t* mask) {
  if (size < GROUP_MASKS + groups * sizeof(GROUP_AFFINITY)) {
    return false;
  }
  *mask = 0;
  for (WORD i = 0; i < groups; ++i) {
    GROUP_AFFINITY group;
    std::memcpy(&group, record + GROUP_MASKS + i * sizeof group, sizeof group);
    if (group.Group == 0) {
      *mask |= group.Mask;
    }
  }
  return true;
}

}  // namespace

bool processor_info_places(const void* info, std::size_t size, const std::vector<int>& cpus,
                           std::vector<cpu_place>* places) {
  const auto* bytes = static_cast<const unsigned char*>(info);
  sighting seen[64];
  int packages = 0;
  std::size_t offset = 0;
  while (offset < size) {
    std::size_t left = size - offset;
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX record = {};
    if (left < BODY) {
      return false;
    }
    std::memcpy(&record, bytes + offset, BODY);
    // A record of size 0 would never end the walk; one past the end reads beyond the buffer.
    if (record.Size < BODY || record.Size > left) {
      return false;
    }
    std::memcpy(&record, bytes + offset, std::min<std::size_t>(record.Size, sizeof record));
    const unsigned char* at = bytes + offset;
    offset += record.Size;
    if (record.Relationship == RelationProcessorCore ||
        record.Relationship == RelationProcessorPackage) {
      std::uint64_t mask = 0;
      if (!group0_mask(at, record.Size, record.Processor.GroupCount, &mask)) {
        return false;
      }
      bool core = record.Relationship == RelationProcessorCore;
      for (int cpu : mask_cpus(mask)) {
        if (core) {
          seen[cpu].core = mask;
        } else {
          seen[cpu].package = packages;
        }
      }
      if (!core) {
        ++packages;
      }
    } else if (record.Relationship == RelationCache) {
      const CACHE_RELATIONSHIP& cache = record.Cache;
      if (record.Size < BODY + offsetof(CACHE_RELATIONSHIP, GroupMask) + sizeof cache.GroupMask) {
        return false;
      }
      if ((cache.Type != CacheUnified && cache.Type != CacheData) || cache.GroupMask.Group != 0) {
        continue;
      }
      for (int cpu : mask_cpus(cache.GroupMask.Mask)) {
        if (cache.Level > seen[cpu].llc_level) {
          seen[cpu].llc_level = cache.Level;
          seen[cpu].llc = cache.GroupMask.Mask;
        }
      }
    }
  }
  std::vector<cpu_place> read;
  for (int cpu : cpus) {
    if (cpu < 0 || cpu >= 64 || seen[cpu].core == 0 || seen[cpu].package < 0 ||
        seen[cpu].llc == 0) {
      return false;
    }
    read.push_back({cpu, std::to_string(seen[cpu].package), mask_cpus(seen[cpu].core),
                    mask_cpus(seen[cpu].llc)});
  }
  places->swap(read);
  return true;
}

bool processor_places(const std::vector<int>& cpus, std::vector<cpu_place>* places) {
  DWORD size = 0;
  if (GetLogicalProcessorInformationEx(RelationAll, nullptr, &size) != 0 ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return false;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
  return buffer &&
         GetLogicalProcessorInformationEx(
             RelationAll, reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get()),
             &size) != 0 &&
         processor_info_places(buffer.get(), size, cpus, places);
}
