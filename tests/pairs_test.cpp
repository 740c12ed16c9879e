// The pairs a sweep measures: reading --pairs, how two places relate, the automatic choice from
// places made here (the same choice from sysfs trees and Windows buffers is tested with their
// readers), and the fallback when the places cannot be read; and that this machine's places
// relate as processor_relation relates its processors.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "sweep/pairs.h"
#include "tests/places_text.h"

namespace {

TEST(ReadPairs, Accepts) {
  const struct {
    const char* text;
    const char* pairs;
  } cases[] = {
      {"0:1", "unknown 0:1"},
      {"0:1,0:8,0:0", "unknown 0:1, unknown 0:8, unknown 0:0"},
      {"1:0,0:1", "unknown 1:0, unknown 0:1"},  // the other way round is another pair
      {"63:0", "unknown 63:0"},
      {"007:00000000000000000000000001", "unknown 7:1"},
  };
  for (const auto& c : cases) {
    std::vector<cpu_pair> pairs;
    EXPECT_EQ(read_pairs(c.text, &pairs), "") << c.text;
    EXPECT_EQ(pairs_text(pairs), c.pairs) << c.text;
  }
}

TEST(ReadPairs, Refusals) {
  const struct {
    const char* text;
    const char* says;  // the whole message
  } cases[] = {
      {"", "--pairs: '' is not probe:load"},
      {"0", "--pairs: '0' is not probe:load"},
      {"0-1", "--pairs: '0-1' is not probe:load"},
      {":1", "--pairs: ':1' is not probe:load"},
      {"0:", "--pairs: '0:' is not probe:load"},
      {"0:1:2", "--pairs: '0:1:2' is not probe:load"},
      {"a:1", "--pairs: 'a:1' is not probe:load"},
      {"0:1x", "--pairs: '0:1x' is not probe:load"},
      {"0: 1", "--pairs: '0: 1' is not probe:load"},
      {"+0:1", "--pairs: '+0:1' is not probe:load"},
      {"0:-1", "--pairs: '0:-1' is not probe:load"},
      {"0:64", "--pairs: '0:64' names a processor above 63"},
      {"64:0", "--pairs: '64:0' names a processor above 63"},
      {"0:99999999999999999999", "--pairs: '0:99999999999999999999' names a processor above 63"},
      {"0:1,0:1", "--pairs: '0:1' is given twice"},
      {"0:1,1:0,00:01", "--pairs: '00:01' is given twice"},
      {"0:1,", "--pairs: '' is not probe:load"},
      {",0:1", "--pairs: '' is not probe:load"},
      {"0:1,,0:2", "--pairs: '' is not probe:load"},
      {"0:1,x:2", "--pairs: 'x:2' is not probe:load"},
  };
  for (const auto& c : cases) {
    std::vector<cpu_pair> pairs = {{5, 6, cpu_relation::same}};
    EXPECT_EQ(read_pairs(c.text, &pairs), c.says) << c.text;
    EXPECT_EQ(pairs_text(pairs), "same 5:6") << c.text << ": the pairs changed";
  }
}

cpu_place place(int cpu, const char* package, std::vector<int> core, std::vector<int> llc) {
  return {cpu, package, std::move(core), std::move(llc)};
}

TEST(PlaceRelation, Cases) {
  const cpu_place p0 = place(0, "0", {0, 2}, {0, 1, 2, 3});
  const struct {
    const char* name;
    cpu_place b;
    cpu_relation expected;
  } cases[] = {
      {"the processor itself", p0, cpu_relation::same},
      {"SMT siblings", place(2, "0", {0, 2}, {0, 1, 2, 3}), cpu_relation::smt_siblings},
      {"sharing the last-level cache", place(1, "0", {1, 3}, {0, 1, 2, 3}),
       cpu_relation::shared_llc},
      {"each its own last-level cache", place(4, "0", {4}, {4, 5}), cpu_relation::separate_llc},
      {"another package", place(4, "1", {4}, {4, 5}), cpu_relation::other_package},
      {"a core list on one side only", place(2, "0", {2}, {0, 1, 2, 3}), cpu_relation::shared_llc},
      {"an llc list on one side only", place(1, "0", {1}, {1}), cpu_relation::separate_llc},
      {"no processor", place(-1, "0", {0, 2}, {0, 1, 2, 3}), cpu_relation::unknown},
      {"no package name", place(1, "", {1, 3}, {0, 1, 2, 3}), cpu_relation::unknown},
      {"no core list", place(1, "0", {}, {0, 1, 2, 3}), cpu_relation::unknown},
      {"no llc list", place(1, "0", {1, 3}, {}), cpu_relation::unknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(relation_id(place_relation(p0, c.b)), std::string(relation_id(c.expected))) << c.name;
    EXPECT_EQ(relation_id(place_relation(c.b, p0)), std::string(relation_id(c.expected)))
        << c.name << ", the other way round";
  }
}

TEST(AutoPairs, FromPlaces) {
  // Two packages of 64 cores with two threads each, numbered the Linux way (core c has
  // processors c and c + 128), eight cores to a last-level cache.
  std::vector<cpu_place> big;
  for (int cpu = 0; cpu < 256; ++cpu) {
    int core = cpu % 128;
    int first = core / 8 * 8;
    std::vector<int> llc;
    for (int c = first; c < first + 8; ++c) {
      llc.push_back(c);
    }
    for (int c = first; c < first + 8; ++c) {
      llc.push_back(c + 128);
    }
    big.push_back(place(cpu, core < 64 ? "0" : "1", {core, core + 128}, llc));
  }
  const struct {
    const char* name;
    std::vector<cpu_place> places;
    const char* pairs;
  } cases[] = {
      {"no processor", {}, ""},
      {"one processor", {place(5, "0", {5}, {5})}, "same 5:5"},
      {"the lowest pair of each relation",
       {place(1, "0", {1}, {1, 2, 3, 4}), place(2, "0", {2}, {1, 2, 3, 4}),
        place(3, "0", {3, 4}, {1, 2, 3, 4}), place(4, "0", {3, 4}, {1, 2, 3, 4})},
       "smt_siblings 3:4, shared_llc 1:2, same 1:1"},
      {"relations that cannot be told are passed over",
       {place(0, "", {0}, {0, 1}), place(1, "0", {1}, {0, 1}), place(2, "0", {2}, {2})},
       "separate_llc 1:2, same 0:0"},
      {"256 processors", big,
       "smt_siblings 0:128, shared_llc 0:1, separate_llc 0:8, other_package 0:64, same 0:0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pairs_text(auto_pairs(c.places)), c.pairs) << c.name;
  }
}

TEST(FallbackPairs, AreTheLowestTwoAndTheControl) {
  const struct {
    std::vector<int> allowed;
    const char* pairs;
  } cases[] = {
      {{0, 1, 2, 3}, "unknown 0:1, same 0:0"},
      {{3}, "same 3:3"},
      {{2, 5}, "unknown 2:5, same 2:2"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pairs_text(fallback_pairs(c.allowed)), c.pairs) << c.allowed.size();
  }
}

TEST(ProcessorPlaces, RelateAsProcessorRelationDoes) {
  std::vector<int> cpus = allowed_processors();
  cpus.resize(std::min<std::size_t>(cpus.size(), 16));  // enough to meet every relation here
  std::vector<cpu_place> places;
  if (!processor_places(cpus, &places)) {
    GTEST_SKIP() << "the topology of this machine cannot be read";
  }
  ASSERT_EQ(places.size(), cpus.size());
  for (std::size_t i = 0; i < cpus.size(); ++i) {
    EXPECT_EQ(places[i].cpu, cpus[i]);
    for (std::size_t j = 0; j < cpus.size(); ++j) {
      EXPECT_EQ(relation_id(place_relation(places[i], places[j])),
                std::string(relation_id(processor_relation(cpus[i], cpus[j]))))
          << cpus[i] << ":" << cpus[j];
    }
  }
}

}  // namespace
