// Test helpers on Windows: GetCurrentProcessorNumber and the thread's affinity mask.
#include <windows.h>

#include "tests/cpu.h"

int current_processor() {
  return static_cast<int>(GetCurrentProcessorNumber());
}

std::uint64_t thread_affinity() {
  // Windows has no call that only reads a thread's mask: setting one returns the previous one,
  // so set the process's mask and put the thread's own back at once.
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
  DWORD_PTR previous = SetThreadAffinityMask(GetCurrentThread(), process);
  SetThreadAffinityMask(GetCurrentThread(), previous);
  return previous;
}

int processor_count() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}
