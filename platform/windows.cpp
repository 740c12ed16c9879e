// Platform services on Windows: GetTickCount, CreateThread and SetThreadAffinityMask.
#include <windows.h>

#include <type_traits>

#include "platform/platform.h"

static_assert(std::is_same<thread_proc, LPTHREAD_START_ROUTINE>::value,
              "thread_proc must be the native thread start routine type");

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
