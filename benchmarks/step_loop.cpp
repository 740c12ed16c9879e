// Benchmark of the step loop: nanoseconds per step of the pass over buffers of 2^17 to 2^26
// bytes, next to the generator alone. Each step's multiply-add depends on the previous one, so
// the generator's chain is the floor no pass can go below; a pass near it spends no time of
// its own on the reads.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/pass.h"
#include "bench/setup.h"

namespace {

constexpr std::int32_t STEPS = 1 << 24;

// Seconds of CPU time per step (shown with an SI prefix, as in "1.65ns").
benchmark::Counter time_per_step() {
  return benchmark::Counter(
      STEPS, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The step count as the compiler cannot know it, so that no loop is folded at compile time.
std::int32_t opaque_steps() {
  std::int32_t steps = STEPS;
  benchmark::DoNotOptimize(steps);
  return steps;
}

[[gnu::noinline]] std::uint32_t generator_only(std::int32_t steps) {
  std::uint32_t c = 1;
  for (std::int32_t i = 0; i < steps; ++i) {
    c = c * LCG_MULTIPLIER + 1;
    // Each step's value must exist, in a register, as the pass needs it: without this clang
    // merges eight steps into one multiply-add and the floor would be no floor. No code.
    asm volatile("" : "+r"(c));
  }
  return c;
}

void generator(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(generator_only(opaque_steps()));
  }
  state.counters["time/step"] = time_per_step();
}

void pass(benchmark::State& state) {
  set_buflog(static_cast<std::int32_t>(state.range(0)));
  std::vector<unsigned char> buf(static_cast<std::size_t>(bufsize) + BUF_SLACK);
  fill_buffer(buf.data(), buf.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(pass_sum(buf.data(), opaque_steps()));
  }
  state.counters["time/step"] = time_per_step();
}

BENCHMARK(generator);
BENCHMARK(pass)->ArgName("buflog")->Arg(17)->Arg(21)->Arg(24)->Arg(26);

}  // namespace

BENCHMARK_MAIN();
