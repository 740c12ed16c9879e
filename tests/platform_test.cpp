// The platform layer: the tick counter, starting a thread, restricting a thread to processors
// and giving them back, and what the sweep reads of the machine. Affinity tests run in a thread
// of their own so that the test runner's main thread keeps its affinity.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/cpu.h"

namespace {

TEST(TickMs, CountsMilliseconds) {
  std::uint32_t start = tick_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::uint32_t elapsed = tick_ms() - start;
  // At least the sleep, less a coarse tick; the upper bound only rules out a wrong unit.
  EXPECT_GE(elapsed, 170u);
  EXPECT_LT(elapsed, 60000u);
}

std::atomic<bool> started{false};
std::atomic<bool> release{false};

unsigned long THREAD_CALL wait_for_release(void*) {
  started.store(true);
  while (!release.load()) {
    std::this_thread::yield();
  }
  return 0;
}

TEST(StartThread, ReturnsWhileTheThreadRuns) {
  started.store(false);
  release.store(false);
  ASSERT_TRUE(start_thread(wait_for_release));
  // start_thread has returned although the thread cannot end before release is set.
  while (!started.load()) {
    std::this_thread::yield();
  }
  release.store(true);
}

TEST(RestrictCurrentThread, PinsToTheGivenProcessor) {
  if ((thread_affinity() & 3u) != 3u) {
    GTEST_SKIP() << "processors 0 and 1 are not both available";
  }
  std::thread([] {
    for (int cpu : {0, 1}) {
      std::uint64_t mask = std::uint64_t{1} << cpu;
      ASSERT_TRUE(restrict_current_thread(mask)) << "mask " << mask;
      EXPECT_EQ(thread_affinity(), mask);
      for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(current_processor(), cpu);
        std::this_thread::yield();
      }
    }
  }).join();
}

TEST(RestrictCurrentThread, ImpossibleMaskChangesNothing) {
  int count = processor_count();
  std::thread([count] {
    std::uint64_t before = thread_affinity();
    EXPECT_FALSE(restrict_current_thread(0)) << "empty mask";
    EXPECT_EQ(thread_affinity(), before);
    if (count < 64) {
      std::uint64_t beyond = std::uint64_t{1} << count;
      EXPECT_FALSE(restrict_current_thread(beyond)) << "processor " << count;
      EXPECT_EQ(thread_affinity(), before);
    }
  }).join();
}

// The allowed processors as a mask, first 64 processors, as thread_affinity() gives it.
std::uint64_t allowed_mask() {
  std::uint64_t mask = 0;
  for (int cpu : allowed_processors()) {
    if (cpu < 64) {
      mask |= std::uint64_t{1} << cpu;
    }
  }
  return mask;
}

TEST(AllowedProcessors, AreTheAffinityAtStart) {
  // The runner's main thread has kept the affinity the process started with.
  std::vector<int> cpus = allowed_processors();
  ASSERT_FALSE(cpus.empty());
  EXPECT_TRUE(std::is_sorted(cpus.begin(), cpus.end()));
  EXPECT_EQ(allowed_mask(), thread_affinity());
}

TEST(UnrestrictCurrentThread, GivesEveryAllowedProcessorBack) {
  if ((thread_affinity() & 3u) != 3u) {
    GTEST_SKIP() << "processors 0 and 1 are not both available";
  }
  std::thread([] {
    ASSERT_TRUE(restrict_current_thread(1u));
    ASSERT_EQ(thread_affinity(), 1u);
    EXPECT_TRUE(unrestrict_current_thread());
    EXPECT_EQ(thread_affinity(), allowed_mask());
  }).join();
}

TEST(ProcessorRelation, OfAProcessorToItselfIsSame) {
  EXPECT_EQ(processor_relation(0, 0), cpu_relation::same);
  EXPECT_EQ(processor_relation(-1, -1), cpu_relation::unknown);
}

TEST(ProcessorRelation, IsSymmetric) {
  // Whatever this machine's topology, two processors are related alike either way round, and
  // two different ones are never the same.
  if (processor_count() < 2) {
    GTEST_SKIP() << "one logical processor";
  }
  EXPECT_EQ(processor_relation(0, 1), processor_relation(1, 0));
  EXPECT_NE(processor_relation(0, 1), cpu_relation::same);
}

// An x86 processor names itself, and both systems pass that name on; others may have none.
#if defined(__x86_64__) || defined(__i386__)
constexpr bool MODEL_NAMED = true;
#else
constexpr bool MODEL_NAMED = false;
#endif

TEST(MachineFacts, AreNamed) {
  EXPECT_NE(os_name(), "");
  if (MODEL_NAMED) {
    EXPECT_NE(cpu_model(), "");
  }
}

}  // namespace
