// What the platform tests need to see of the operating system: which processor the calling
// thread is on, and which processors it may run on. One source file per operating system.
#pragma once

#include <cstdint>

// The logical processor the calling thread is running on now.
int current_processor();

// The calling thread's affinity as a bit mask (bit n is processor n), first 64 processors.
std::uint64_t thread_affinity();

// The number of logical processors the machine has.
int processor_count();
