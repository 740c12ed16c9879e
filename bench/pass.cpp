// The random-access pass. Each step advances a 32-bit linear congruential generator and reads
// three 4-byte words at offsets drawn from three nested windows of the buffer: the whole buffer,
// its first quarter and its first sixteenth.
#include "bench/pass.h"

#include <cstring>

#include "platform/platform.h"

std::int32_t bufmask;
std::atomic<std::int32_t> pass_sink;

namespace {

// The 4 bytes at buf + offset as one word in the processor's byte order. Offsets are not
// aligned; memcpy makes that well defined and compiles to a single load.
inline std::uint32_t word(const unsigned char* buf, std::uint32_t offset) {
  std::uint32_t w;
  std::memcpy(&w, buf + offset, sizeof w);
  return w;
}

}  // namespace

// Kept out of line so that the compiled step loop is one symbol to inspect, and so that the
// loop the program times is that symbol.
[[gnu::noinline]] std::uint32_t pass_sum(const unsigned char* buf, std::int32_t steps) {
  const std::uint32_t m1 = static_cast<std::uint32_t>(bufmask);       // whole buffer
  const std::uint32_t m2 = static_cast<std::uint32_t>(bufmask >> 2);  // first quarter
  const std::uint32_t m4 = static_cast<std::uint32_t>(bufmask >> 4);  // first sixteenth
  std::uint32_t c = 1;
  std::uint32_t sum = 0;
  // Counting the steps down lets both compilers close the loop with one decrement-and-branch;
  // an up-counter costs g++ an extra register, add and compare per step.
  for (std::int32_t n = steps; n > 0; --n) {
    c = c * LCG_MULTIPLIER + 1;
    sum += word(buf, c & m1) + word(buf, c & m2) + word(buf, c & m4);
  }
  return sum;
}

std::int32_t timed_steps(const unsigned char* buf, std::int32_t steps) {
  std::uint32_t start = tick_ms();
  std::uint32_t sum = pass_sum(buf, steps);
  // Relaxed: the two threads' stores need no order, only freedom from a data race.
  pass_sink.store(static_cast<std::int32_t>(sum), std::memory_order_relaxed);
  return static_cast<std::int32_t>(tick_ms() - start);
}

std::int32_t timed_pass(const unsigned char* buf) {
  return timed_steps(buf, PASS_STEPS);
}
