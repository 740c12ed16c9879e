// The set-up and the report's gain line.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "bench/pass.h"
#include "bench/report.h"
#include "bench/setup.h"

namespace {

TEST(SetupBuffers, BothAreDistinctAndFilledThrough) {
  set_buflog(17);
  ASSERT_TRUE(setup_buffers());
  ASSERT_NE(probe_buf, nullptr);
  ASSERT_NE(load_buf, nullptr);
  ASSERT_NE(probe_buf, load_buf);
  std::size_t size = static_cast<std::size_t>(bufsize) + BUF_SLACK;
  // Every byte, the slack included, is written and none is zero: no page of either buffer is
  // left to the shared zero page. Both hold the same pattern, so both threads do equal work.
  std::set<std::uint32_t> words;
  for (std::size_t i = 0; i < size; ++i) {
    ASSERT_NE(probe_buf[i], 0) << "byte " << i;
    ASSERT_EQ(probe_buf[i], load_buf[i]) << "byte " << i;
    if (i + 4 <= size) {
      std::uint32_t w;
      std::memcpy(&w, probe_buf + i, sizeof w);
      words.insert(w);
    }
  }
  // Not a constant: words at different offsets mostly differ, so a pass's sum depends on
  // which offsets it reads.
  EXPECT_GT(words.size(), size / 2);
}

TEST(GainLine, PercentOfTheDefaultTime) {
  struct {
    float t_default;
    float t_first;
    const char* line;
  } const cases[] = {
      {10.0f, 8.0f, "speed gain is 20.00%\n"},   {8.0f, 10.0f, "speed gain is -25.00%\n"},
      {1.5f, 1.5f, "speed gain is 0.00%\n"},     {0.0f, 1.2f, "speed gain is n/a\n"},
      {0.0f, 0.0f, "speed gain is n/a\n"},       {1.0f, 0.0f, "speed gain is 100.00%\n"},
      {0.001f, 0.0f, "speed gain is 100.00%\n"}, {2.0f, 1.99f, "speed gain is 0.50%\n"},
  };
  for (const auto& c : cases) {
    char line[64];
    gain_line(line, sizeof line, c.t_default, c.t_first);
    EXPECT_STREQ(line, c.line) << c.t_default << " then " << c.t_first;
  }
}

}  // namespace
