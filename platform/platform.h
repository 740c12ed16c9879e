// Operating-system services the benchmark needs: a millisecond tick counter, starting the load
// thread, and restricting the calling thread to a set of logical processors. Each operating
// system has its own source file; this header names no type of any of them.
#pragma once

#include <cstdint>

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
