// The sweep's command line: what it accepts, and every refusal, which must name its problem.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sweep/options.h"

namespace {

std::string parse(std::vector<const char*> args, sweep_options& opts) {
  args.insert(args.begin(), "affinity_sweep");
  return parse_options(static_cast<int>(args.size()), args.data(), opts);
}

TEST(ParseOptions, Defaults) {
  sweep_options o;
  ASSERT_EQ(parse({}, o), "");
  EXPECT_EQ(o.sizes.front(), DEFAULT_FIRST_BUFLOG);
  EXPECT_EQ(o.sizes.back(), DEFAULT_LAST_BUFLOG);
  EXPECT_EQ(o.sizes.size(),
            static_cast<std::size_t>(DEFAULT_LAST_BUFLOG - DEFAULT_FIRST_BUFLOG + 1));
  EXPECT_EQ(o.rounds, 0);  // until decided
  EXPECT_EQ(o.steps, 0);   // from the pass time
  EXPECT_EQ(o.time_s, DEFAULT_TIME_S);
  EXPECT_EQ(o.margin, 1.0);
  EXPECT_EQ(o.confidence, 0.95);
  EXPECT_EQ(o.probe_cpu, 0);
  EXPECT_EQ(o.load_cpu, 1);
  EXPECT_FALSE(o.alone);
  EXPECT_FALSE(o.null_run);
}

TEST(ParseOptions, Accepts) {
  sweep_options o;
  ASSERT_EQ(parse({"--sizes", "17-19,24", "--rounds=6", "--steps", "2147483647", "--probe-cpu", "1",
                   "--load-cpu=1", "--alone", "--null", "--csv", "a.csv", "--json=b.json",
                   "--margin", "0.5", "--confidence=0.99"},
                  o),
            "");
  EXPECT_EQ(o.sizes, (std::vector<int>{17, 18, 19, 24}));
  EXPECT_EQ(o.rounds, 6);
  EXPECT_EQ(o.steps, 2147483647);
  EXPECT_EQ(o.probe_cpu, 1);
  EXPECT_EQ(o.load_cpu, 1);
  EXPECT_TRUE(o.alone);
  EXPECT_TRUE(o.null_run);
  EXPECT_EQ(o.margin, 0.5);
  EXPECT_EQ(o.confidence, 0.99);
  EXPECT_EQ(o.csv, "a.csv");
  EXPECT_EQ(o.json, "b.json");

  ASSERT_EQ(parse({"--time", "12.5", "--margin=2"}, o), "");
  EXPECT_EQ(o.time_s, 12.5);
  EXPECT_TRUE(o.time_given);
  EXPECT_EQ(o.margin, 2.0);
  ASSERT_EQ(parse({"--sizes", "30,17"}, o), "");
  EXPECT_EQ(o.sizes, (std::vector<int>{30, 17}));
  ASSERT_EQ(parse({"--steps=1", "--help", "--bogus"}, o), "");
  EXPECT_TRUE(o.help);
  ASSERT_EQ(parse({"--version"}, o), "");
  EXPECT_TRUE(o.version);
}

TEST(ParseOptions, Refusals) {
  const struct {
    std::vector<const char*> args;
    const char* says;  // a part of the one-line message
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-r", "6"}, "unexpected argument '-r'"},
      {{"17"}, "unexpected argument '17'"},
      {{"--"}, "unexpected argument '--'"},
      {{"--rounds"}, "--rounds needs a value"},
      {{"--sizes"}, "--sizes needs a value"},
      {{"--sizes", "16"}, "'16' is not a size"},
      {{"--sizes", "31"}, "from 17 to 30"},
      {{"--sizes", "17-31"}, "'17-31'"},
      {{"--sizes", "24-17"}, "runs backwards"},
      {{"--sizes", "17,,18"}, "'' is not a size"},
      {{"--sizes", "17,"}, "'' is not a size"},
      {{"--sizes", "17-"}, "'17-'"},
      {{"--sizes", "17-18-19"}, "'17-18-19'"},
      {{"--sizes", "x"}, "'x'"},
      {{"--sizes", "17,17"}, "given twice"},
      {{"--sizes", "17-19,18"}, "given twice"},
      {{"--rounds", "0"}, "from 1"},
      {{"--rounds", "-6"}, "from 1"},
      {{"--rounds", "6x"}, "from 1"},
      {{"--rounds", ""}, "from 1"},
      {{"--rounds", "1000001"}, "from 1 to 1000000"},
      {{"--rounds", "10", "--time", "5"}, "--rounds and --time do not go together"},
      {{"--steps", "0"}, "from 1 to 2147483647"},
      {{"--steps", "2147483648"}, "from 1 to 2147483647"},
      {{"--steps", "99999999999999999999"}, "from 1 to 2147483647"},
      {{"--steps", "+5"}, "from 1 to 2147483647"},
      {{"--steps", " 5"}, "from 1 to 2147483647"},
      {{"--probe-cpu", "x"}, "not a processor number"},
      {{"--load-cpu", "-1"}, "not a processor number"},
      {{"--csv", ""}, "--csv: the file name is empty"},
      {{"--csv=out", "--json", "out"}, "same file"},
      {{"--alone=yes"}, "--alone takes no value"},
      {{"--null=1"}, "--null takes no value"},
      {{"--time", "0"}, "--time: '0' is not a positive number of seconds"},
      {{"--time", "-5"}, "--time: '-5' is not a positive"},
      {{"--time", "1e3"}, "'1e3' is not"},
      {{"--time", "abc"}, "'abc' is not"},
      {{"--time", "."}, "'.' is not"},
      {{"--time", "1.2.3"}, "'1.2.3' is not"},
      {{"--time", "1000001"}, "at most 1000000"},
      {{"--time", ""}, "'' is not"},
      {{"--margin", "0"}, "--margin: '0' is not a positive percentage"},
      {{"--margin", "0.000"}, "is not a positive percentage"},
      {{"--margin", "-1"}, "is not a positive percentage"},
      {{"--margin", "101"}, "at most 100"},
      {{"--margin", "nan"}, "is not a positive percentage"},
      {{"--confidence", "0"}, "--confidence: '0' is not a fraction between 0 and 1"},
      {{"--confidence", "1"}, "between 0 and 1"},
      {{"--confidence", "1.0"}, "between 0 and 1"},
      {{"--confidence", "95"}, "between 0 and 1"},
      {{"--confidence", "-0.5"}, "between 0 and 1"},
      {{"--help=1"}, "--help takes no value"},
  };
  for (const auto& c : cases) {
    sweep_options o;
    std::string shown;
    for (const char* a : c.args) {
      shown += std::string("[") + a + "]";
    }
    std::string problem = parse(c.args, o);
    EXPECT_NE(problem, "") << shown;
    EXPECT_EQ(problem.find('\n'), std::string::npos) << shown;
    bool found = problem.find(c.says) != std::string::npos;
    EXPECT_TRUE(found) << shown << " gave: " << problem;
  }
}

TEST(CheckRounds, RefusesTooFewForEachSizesConfidence) {
  sweep_options o;
  ASSERT_EQ(parse({"--rounds", "8"}, o), "");
  // Ten sizes at 95 % for all: 99.5 % for each, which takes 9 rounds.
  EXPECT_EQ(check_rounds(o, 10),
            "--rounds: 8 rounds cannot reach 99.5 % for each of 10 sizes (95 % for all at once); "
            "give at least 9");
  EXPECT_EQ(check_rounds(o, 1), "");
  ASSERT_EQ(parse({"--rounds", "9"}, o), "");
  EXPECT_EQ(check_rounds(o, 10), "");
  ASSERT_EQ(parse({"--rounds", "5"}, o), "");
  EXPECT_NE(check_rounds(o, 1).find("give at least 6"), std::string::npos);
  ASSERT_EQ(parse({}, o), "");
  EXPECT_EQ(check_rounds(o, 10), "") << "without --rounds the sweep stops when decided";
  EXPECT_NEAR(size_alpha(o, 10), 0.005, 1e-15);
}

TEST(CheckPairs, OnlyProcessorsTheProcessMayUse) {
  const std::vector<int> allowed{0, 2, 3, 64};
  const struct {
    int probe, load;
    bool listed;       // given by --pairs
    const char* says;  // "" when accepted
  } cases[] = {
      {0, 2, false, ""},
      {3, 3, false, ""},  // both on one processor is allowed
      {1, 2, false, "--probe-cpu: this process may not use logical processor 1"},
      {0, 1, false, "--load-cpu: this process may not use logical processor 1"},
      {0, 64, false, "--load-cpu: this process may not use logical processor 64"},  // no mask
      {2, 1, true, "--pairs: this process may not use logical processor 1 (in 2:1)"},
  };
  for (const auto& c : cases) {
    std::vector<cpu_pair> pairs{{c.probe, c.load, cpu_relation::unknown}};
    EXPECT_EQ(check_pairs(pairs, allowed, c.listed), c.says) << c.probe << ":" << c.load;
  }
  // Every pair is checked, not only the first.
  std::vector<cpu_pair> two{{0, 2, cpu_relation::unknown}, {3, 5, cpu_relation::unknown}};
  EXPECT_EQ(check_pairs(two, allowed, true),
            "--pairs: this process may not use logical processor 5 (in 3:5)");
  EXPECT_NE(check_pairs(two, {}, true), "");
}

TEST(ParseOptions, Pairs) {
  sweep_options o;
  ASSERT_EQ(parse({"--pairs", "0:1,0:0"}, o), "");
  ASSERT_EQ(o.pairs.size(), 2u);
  EXPECT_EQ(o.pairs[1].probe, 0);
  EXPECT_EQ(o.pairs[1].load, 0);
  EXPECT_FALSE(o.auto_pairs);
  ASSERT_EQ(parse({"--pairs=0:1", "--pairs", "auto"}, o), "");
  EXPECT_TRUE(o.auto_pairs);
  EXPECT_TRUE(o.pairs.empty()) << "the last --pairs counts";
  EXPECT_NE(parse({"--pairs", "0-1"}, o).find("'0-1' is not probe:load"), std::string::npos);
  EXPECT_NE(parse({"--pairs", "auto", "--probe-cpu", "1"}, o).find("does not go with"),
            std::string::npos);
  EXPECT_NE(parse({"--load-cpu", "1", "--pairs", "0:1"}, o).find("does not go with"),
            std::string::npos);
}

}  // namespace
