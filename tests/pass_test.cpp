// The random-access pass: which offsets it reads, that every pass reads the same ones, and that
// it stays inside the buffer. Runs a few steps at a time through timed_steps and pass_sum.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "bench/pass.h"
#include "bench/setup.h"

namespace {

// A buffer for 2^lg bytes as the driver makes it: bufsize + BUF_SLACK bytes of the fill pattern.
std::vector<unsigned char> patterned(std::int32_t lg) {
  set_buflog(lg);
  std::vector<unsigned char> buf(static_cast<std::size_t>(bufsize) + BUF_SLACK);
  fill_buffer(buf.data(), buf.size());
  return buf;
}

std::uint32_t word_at(const std::vector<unsigned char>& buf, std::uint32_t offset) {
  std::uint32_t w;
  std::memcpy(&w, buf.data() + offset, sizeof w);
  return w;
}

struct StepCase {
  std::int32_t buflog;
  std::vector<std::uint32_t> offsets;  // whole buffer, quarter, sixteenth; per step
};

TEST(Pass, ReadsTheWorkedOffsets) {
  const StepCase cases[] = {
      {21, {773540, 249252, 118180}},
      {21, {773540, 249252, 118180, 1852269, 279405, 17261}},
      {17, {118180, 19876, 3492}},
  };
  for (const StepCase& c : cases) {
    std::vector<unsigned char> buf = patterned(c.buflog);
    std::uint32_t expected = 0;
    for (std::uint32_t offset : c.offsets) {
      expected += word_at(buf, offset);
    }
    std::int32_t steps = static_cast<std::int32_t>(c.offsets.size() / 3);
    EXPECT_EQ(pass_sum(buf.data(), steps), expected)
        << "buflog " << c.buflog << ", " << steps << " step(s)";
  }
}

TEST(Pass, EveryPassReadsTheSameOffsets) {
  std::vector<unsigned char> buf = patterned(21);
  timed_steps(buf.data(), 100000);
  std::int32_t first = pass_sink.load();
  timed_steps(buf.data(), 100000);
  EXPECT_EQ(pass_sink.load(), first);
  EXPECT_EQ(static_cast<std::uint32_t>(first), pass_sum(buf.data(), 100000));
}

TEST(Pass, ZeroBufferSumsToZero) {
  set_buflog(17);
  std::vector<unsigned char> zeros(static_cast<std::size_t>(bufsize) + BUF_SLACK);
  pass_sink.store(-1);
  timed_steps(zeros.data(), 100000);
  EXPECT_EQ(pass_sink.load(), 0);
}

TEST(Pass, StaysInsideTheSmallestBuffer) {
  // bufsize + 3 bytes is the least a pass may be given; 2^18 steps run the generator's low
  // bits through their whole cycle, so every offset the pass can reach is read. Under
  // AddressSanitizer a read past the end fails the test.
  set_buflog(17);
  std::size_t size = static_cast<std::size_t>(bufsize) + 3;
  unsigned char* buf = new unsigned char[size]();
  EXPECT_EQ(pass_sum(buf, 1 << 18), 0u);
  delete[] buf;
}

TEST(Pass, SameSumInEveryBuild) {
  // Expected sums of 1,000,000 steps over the fill pattern, computed once by
  // tests/reference_sums.py, a separate Python transcription of the fill and the step loop.
  // The sums wrap 32 bits many times over. Every build, Linux or Windows, g++ or clang++, must
  // do exactly this work.
  struct {
    std::int32_t buflog;
    std::uint32_t sum;
  } const cases[] = {{17, 1533443242u}, {21, 3754547418u}, {24, 449819302u}};
  for (const auto& c : cases) {
    std::vector<unsigned char> buf = patterned(c.buflog);
    EXPECT_EQ(pass_sum(buf.data(), 1000000), c.sum) << "buflog " << c.buflog;
  }
}

TEST(Pass, TwoThreadsRunPassesAtOnce) {
  // As the driver and the load thread do: each its own buffer, both storing their sums.
  std::vector<unsigned char> probe = patterned(17);
  std::vector<unsigned char> load(probe.size());
  std::uint32_t probe_sum = pass_sum(probe.data(), 200000);
  std::thread other([&] { timed_steps(load.data(), 200000); });
  timed_steps(probe.data(), 200000);
  other.join();
  std::int32_t last = pass_sink.load();
  EXPECT_TRUE(last == 0 || static_cast<std::uint32_t>(last) == probe_sum) << last;
}

}  // namespace
