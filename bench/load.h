// The load thread: the competing workload that runs during all of the driver's passes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr std::uint64_t LOAD_MASK = 2;  // logical processor 1

// Restricts itself to LOAD_MASK, then runs passes over load_buf until the process ends.
unsigned long THREAD_CALL load_thread(void* arg);
