// Reading buflog from the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/pass.h"
#include "bench/setup.h"

namespace {

struct ArgCase {
  std::vector<const char*> args;  // after the program name
  std::int32_t buflog;
};

std::int32_t read(const std::vector<const char*>& args) {
  std::vector<const char*> argv{"affinity_gain"};
  argv.insert(argv.end(), args.begin(), args.end());
  return read_buflog(static_cast<int>(argv.size()), argv.data());
}

TEST(ReadBuflog, FollowsAtoiWithinRange) {
  const ArgCase cases[] = {
      {{}, 21},
      {{"16"}, 21},
      {{"17"}, 17},
      {{"30"}, 30},
      {{"abc"}, 21},
      {{"-18"}, 21},
      {{"18abc"}, 18},
      {{"  19"}, 19},
      {{"\t\n19"}, 19},
      {{"+20"}, 20},
      {{""}, 21},
      {{"0"}, 21},
      {{"- 18"}, 21},
      {{"1 8"}, 21},
      {{"0000000000000000000000017"}, 17},
      {{"-99999999999999999999"}, 21},
      {{"18", "31"}, 18},
      {{"16", "20"}, 21},
  };
  for (const ArgCase& c : cases) {
    std::string shown;
    for (const char* a : c.args) {
      shown += std::string("[") + a + "]";
    }
    EXPECT_EQ(read(c.args), c.buflog) << "arguments " << shown;
  }
}

TEST(ReadBuflog, RefusesValuesAbove30) {
  const char* refused[] = {"31", "32", "2147483647", "2147483648", "99999999999999999999", " +40x"};
  for (const char* arg : refused) {
    EXPECT_EQ(read({arg}), BUFLOG_REFUSED) << "argument " << arg;
  }
}

TEST(SetBuflog, DerivesSizeAndMask) {
  set_buflog(21);
  EXPECT_EQ(bufsize, 2097152);
  EXPECT_EQ(bufmask, 0x1FFFFF);
  set_buflog(17);
  EXPECT_EQ(bufsize, 131072);
  set_buflog(30);
  EXPECT_EQ(bufsize, 1073741824);
  EXPECT_EQ(bufmask, 0x3FFFFFFF);
}

}  // namespace
