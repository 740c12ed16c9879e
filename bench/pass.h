// The timed random-access pass: the benchmark's workload and its stopwatch. Every pass runs the
// same generator from the same seed, so every pass, in either thread, reads the same offsets.
#pragma once

#include <atomic>
#include <cstdint>

constexpr std::int32_t PASS_STEPS = 1000000000;
constexpr std::uint32_t LCG_MULTIPLIER = 200002979;

// Buffer size minus one; the offset mask of every pass. Set once, before any pass runs and
// before the load thread starts.
extern std::int32_t bufmask;

// Receives the sum of every pass so that its reads are not removed as dead code. Both threads
// store to it; nothing in the program reads it.
extern std::atomic<std::int32_t> pass_sink;

// Runs steps steps of the pass over buf (at least bufmask + 4 bytes) and returns their
// wrapping sum. Nothing but the step loop; no clock, no store.
std::uint32_t pass_sum(const unsigned char* buf, std::int32_t steps);

// Times steps steps over buf, stores their sum in pass_sink and returns the elapsed
// milliseconds. The program always runs PASS_STEPS; tests run fewer.
std::int32_t timed_steps(const unsigned char* buf, std::int32_t steps);

// One whole pass over buf: PASS_STEPS steps. Returns its time in milliseconds.
std::int32_t timed_pass(const unsigned char* buf);
