// How two processors are related, and where each sits, read from a small sysfs tree written for
// each case: a healthy machine of two cores with two hardware threads each, changed by the case
// into the topology or the fault it shows, or a whole machine of its own from which the case
// chooses the pairs for --pairs auto. Linux only.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/sysfs.h"
#include "sweep/pairs.h"
#include "tests/places_text.h"

// Names the relations in failure messages (GoogleTest finds it next to the type).
static void PrintTo(cpu_relation relation, std::ostream* out) {
  const char* const NAMES[] = {"unknown",    "same",         "smt_siblings",
                               "shared_llc", "separate_llc", "other_package"};
  *out << NAMES[static_cast<int>(relation)];
}

namespace {

namespace fs = std::filesystem;

// Writes one value as sysfs shows it: a line ending with a newline.
void put(const fs::path& path, const std::string& value) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream(path) << value << '\n';
}

// A machine as sysfs shows it, one entry a processor: its physical_package_id, its SMT
// siblings, who also share its L1 data, L1 instruction and L2 caches, and who shares its L3.
struct machine {
  std::vector<const char*> packages;
  std::vector<const char*> cores;
  std::vector<const char*> l3s;
};

void write_machine(const fs::path& root, const machine& m) {
  const char* const caches[][2] = {
      {"1", "Data"}, {"1", "Instruction"}, {"2", "Unified"}, {"3", "Unified"}};
  for (std::size_t cpu = 0; cpu < m.packages.size(); ++cpu) {
    fs::path dir = root / ("cpu" + std::to_string(cpu));
    put(dir / "topology/physical_package_id", m.packages[cpu]);
    put(dir / "topology/thread_siblings_list", m.cores[cpu]);
    for (int index = 0; index < 4; ++index) {
      fs::path cache = dir / "cache" / ("index" + std::to_string(index));
      put(cache / "level", caches[index][0]);
      put(cache / "type", caches[index][1]);
      put(cache / "shared_cpu_list", index == 3 ? m.l3s[cpu] : m.cores[cpu]);
    }
  }
}

// Processors 0 and 2 are one core, 1 and 3 the other, all in package 0. Each core has its own L1
// data, L1 instruction and L2 caches; the L3 cache is shared.
void write_healthy(const fs::path& root) {
  write_machine(root,
                {{"0", "0", "0", "0"}, {"0,2", "1,3", "0,2", "1,3"}, {"0-3", "0-3", "0-3", "0-3"}});
}

// A fresh directory for one test's trees; the test removes it.
fs::path fresh_top() {
  std::string pattern = testing::TempDir() + "sysfs_XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
}

// Writes the healthy tree under root with a case's changes: each a path under the root and its
// new value, or nullptr to remove the file or directory.
void write_changed(const fs::path& root,
                   const std::vector<std::pair<const char*, const char*>>& changes) {
  write_healthy(root);
  for (const auto& change : changes) {
    if (change.second == nullptr) {
      std::error_code error;
      fs::remove_all(root / change.first, error);
    } else {
      put(root / change.first, change.second);
    }
  }
}

struct relation_case {
  const char* name;
  std::vector<std::pair<const char*, const char*>> changes;  // as write_changed takes them
  int a;
  int b;
  cpu_relation expected;
};

const char* const SIBLINGS = "cpu0/topology/thread_siblings_list";

const relation_case CASES[] = {
    {"one processor", {}, 1, 1, cpu_relation::same},
    {"SMT siblings", {}, 0, 2, cpu_relation::smt_siblings},
    {"two cores sharing L3", {}, 0, 1, cpu_relation::shared_llc},
    {"two cores with an L3 each",
     {{"cpu0/cache/index3/shared_cpu_list", "0,2"}},
     0,
     1,
     cpu_relation::separate_llc},
    {"two packages",
     {{"cpu1/topology/physical_package_id", "1"}},
     0,
     1,
     cpu_relation::other_package},
    {"package the firmware does not name",
     {{"cpu0/topology/physical_package_id", "-1"}, {"cpu1/topology/physical_package_id", "-1"}},
     0,
     1,
     cpu_relation::shared_llc},
    {"no L3: L2 is the last level",
     {{"cpu0/cache/index3", nullptr}},
     0,
     1,
     cpu_relation::separate_llc},
    {"an instruction cache of a higher level is not the last level",
     {{"cpu0/cache/index1/level", "4"}},
     0,
     1,
     cpu_relation::shared_llc},
    {"core_cpus_list where thread_siblings_list is gone",
     {{SIBLINGS, nullptr}, {"cpu0/topology/core_cpus_list", "0,2"}},
     0,
     2,
     cpu_relation::smt_siblings},
    {"sibling in the second range",
     {{SIBLINGS, "0-1,8-11"}, {"cpu9/topology/physical_package_id", "0"}},
     0,
     9,
     cpu_relation::smt_siblings},
    {"between two ranges", {{SIBLINGS, "0-1,8-11"}}, 0, 3, cpu_relation::shared_llc},
    {"first of a range", {{SIBLINGS, "0,2-3"}}, 0, 2, cpu_relation::smt_siblings},
    {"list without a sibling", {{SIBLINGS, "0"}}, 0, 2, cpu_relation::shared_llc},
    {"range without an end", {{SIBLINGS, "0-"}}, 0, 2, cpu_relation::unknown},
    {"range backwards", {{SIBLINGS, "2-0"}}, 0, 2, cpu_relation::unknown},
    {"empty item", {{SIBLINGS, "0,,2"}}, 0, 2, cpu_relation::unknown},
    {"trailing comma", {{SIBLINGS, "0,2,"}}, 0, 2, cpu_relation::unknown},
    {"blank between items", {{SIBLINGS, "0 2"}}, 0, 2, cpu_relation::unknown},
    {"no such processor", {}, 0, 7, cpu_relation::unknown},
    {"negative processor", {}, 0, -1, cpu_relation::unknown},
    {"no package id",
     {{"cpu0/topology/physical_package_id", nullptr}},
     0,
     1,
     cpu_relation::unknown},
    {"no sibling list", {{SIBLINGS, nullptr}}, 0, 2, cpu_relation::unknown},
    {"no caches", {{"cpu0/cache", nullptr}}, 0, 1, cpu_relation::unknown},
    {"only an instruction cache",
     {{"cpu0/cache/index0", nullptr},
      {"cpu0/cache/index2", nullptr},
      {"cpu0/cache/index3", nullptr}},
     0,
     1,
     cpu_relation::unknown},
    {"a cache level unreadable",
     {{"cpu0/cache/index2/level", nullptr}},
     0,
     1,
     cpu_relation::unknown},
    {"no shared_cpu_list of L3",
     {{"cpu0/cache/index3/shared_cpu_list", nullptr}},
     0,
     1,
     cpu_relation::unknown},
};

TEST(SysfsRelation, Cases) {
  fs::path top = fresh_top();
  ASSERT_FALSE(top.empty());
  int n = 0;
  for (const relation_case& c : CASES) {
    fs::path root = top / std::to_string(n++);
    write_changed(root, c.changes);
    EXPECT_EQ(sysfs_relation(root.string(), c.a, c.b), c.expected) << c.name;
  }
  std::error_code error;
  fs::remove_all(top, error);
}

struct place_case {
  const char* name;
  std::vector<std::pair<const char*, const char*>> changes;  // as write_changed takes them
  std::vector<int> cpus;
  const char* places;  // as places_text writes them; nullptr where the reader must fail
};

const char* const HEALTHY_0 = "0: package 0, core 0,2, llc 0-3";

const place_case PLACE_CASES[] = {
    {"every processor",
     {},
     {0, 1, 2, 3},
     "0: package 0, core 0,2, llc 0-3; 1: package 0, core 1,3, llc 0-3; "
     "2: package 0, core 0,2, llc 0-3; 3: package 0, core 1,3, llc 0-3"},
    {"in the order asked",
     {},
     {3, 0},
     "3: package 0, core 1,3, llc 0-3; 0: package 0, core 0,2, llc 0-3"},
    {"no processor asked", {}, {}, ""},
    {"package the firmware does not name",
     {{"cpu0/topology/physical_package_id", "-1"}},
     {0},
     "0: package -1, core 0,2, llc 0-3"},
    {"core_cpus_list where thread_siblings_list is gone",
     {{SIBLINGS, nullptr}, {"cpu0/topology/core_cpus_list", "0,2"}},
     {0},
     HEALTHY_0},
    {"a list out of order, with a repeat",
     {{SIBLINGS, "2,0-2,0"}},
     {0},
     "0: package 0, core 0-2, llc 0-3"},
    {"no L3: L2 is the last level",
     {{"cpu0/cache/index3", nullptr}},
     {0},
     "0: package 0, core 0,2, llc 0,2"},
    {"no such processor", {}, {0, 7}, nullptr},
    {"negative processor", {}, {-1}, nullptr},
    {"no package id", {{"cpu1/topology/physical_package_id", nullptr}}, {0, 1}, nullptr},
    {"empty package id", {{"cpu0/topology/physical_package_id", ""}}, {0}, nullptr},
    {"no sibling list", {{SIBLINGS, nullptr}}, {0}, nullptr},
    {"empty sibling list", {{SIBLINGS, ""}}, {0}, nullptr},
    {"malformed sibling list", {{SIBLINGS, "0-"}}, {0}, nullptr},
    {"a processor no kernel has", {{SIBLINGS, "0,9999"}}, {0}, nullptr},
    {"no caches", {{"cpu0/cache", nullptr}}, {0}, nullptr},
    {"only an instruction cache",
     {{"cpu0/cache/index0", nullptr},
      {"cpu0/cache/index2", nullptr},
      {"cpu0/cache/index3", nullptr}},
     {0},
     nullptr},
    {"no shared_cpu_list of L3", {{"cpu0/cache/index3/shared_cpu_list", nullptr}}, {0}, nullptr},
    {"malformed shared_cpu_list of L3",
     {{"cpu0/cache/index3/shared_cpu_list", "0-3,"}},
     {0},
     nullptr},
};

TEST(SysfsPlaces, Cases) {
  fs::path top = fresh_top();
  ASSERT_FALSE(top.empty());
  int n = 0;
  for (const place_case& c : PLACE_CASES) {
    fs::path root = top / std::to_string(n++);
    write_changed(root, c.changes);
    const std::vector<cpu_place> before = {{9, "9", {9}, {9}}};
    std::vector<cpu_place> places = before;
    bool read = sysfs_places(root.string(), c.cpus, &places);
    if (c.places == nullptr) {
      EXPECT_FALSE(read) << c.name;
      EXPECT_EQ(places_text(places), places_text(before)) << c.name << ": the places changed";
    } else {
      EXPECT_TRUE(read) << c.name;
      EXPECT_EQ(places_text(places), c.places) << c.name;
    }
  }
  std::error_code error;
  fs::remove_all(top, error);
}

TEST(SysfsPlaces, WhereNoneCanBeReadTheLowestTwoAreMeasured) {
  // A container without sysfs: the caller gets no places and falls back.
  std::vector<cpu_place> places;
  EXPECT_FALSE(sysfs_places(testing::TempDir() + "no_such_sysfs", {0, 1, 2}, &places));
  EXPECT_TRUE(places.empty());
  EXPECT_EQ(pairs_text(fallback_pairs({0, 1, 2})), "unknown 0:1, same 0:0");
}

struct choice_case {
  const char* name;
  machine m;
  std::vector<int> allowed;
  const char* pairs;  // as pairs_text writes them
};

// Four cores with two hardware threads each and one L3, numbered as Linux numbers them: the
// first thread of every core, then the second of every core.
const machine SMT_LINUX = {{"0", "0", "0", "0", "0", "0", "0", "0"},
                           {"0,4", "1,5", "2,6", "3,7", "0,4", "1,5", "2,6", "3,7"},
                           {"0-7", "0-7", "0-7", "0-7", "0-7", "0-7", "0-7", "0-7"}};

const choice_case CHOICE_CASES[] = {
    {"this project's machine: two cores of a VM sharing the L3",
     {{"0", "0"}, {"0", "1"}, {"0-1", "0-1"}},
     {0, 1},
     "shared_llc 0:1, same 0:0"},
    {"four cores with two threads each, numbered the Linux way",
     SMT_LINUX,
     {0, 1, 2, 3, 4, 5, 6, 7},
     "smt_siblings 0:4, shared_llc 0:1, same 0:0"},
    {"the same machine numbered the Windows way: a core's threads are neighbours",
     {{"0", "0", "0", "0", "0", "0", "0", "0"},
      {"0-1", "0-1", "2-3", "2-3", "4-5", "4-5", "6-7", "6-7"},
      {"0-7", "0-7", "0-7", "0-7", "0-7", "0-7", "0-7", "0-7"}},
     {0, 1, 2, 3, 4, 5, 6, 7},
     "smt_siblings 0:1, shared_llc 0:2, same 0:0"},
    {"two packages of four cores, each pair of cores with an L3 of its own",
     {{"0", "0", "0", "0", "1", "1", "1", "1"},
      {"0", "1", "2", "3", "4", "5", "6", "7"},
      {"0-1", "0-1", "2-3", "2-3", "4-5", "4-5", "6-7", "6-7"}},
     {0, 1, 2, 3, 4, 5, 6, 7},
     "shared_llc 0:1, separate_llc 0:2, other_package 0:4, same 0:0"},
    {"only some processors allowed (taskset -c 2,3,6)",
     SMT_LINUX,
     {2, 3, 6},
     "smt_siblings 2:6, shared_llc 2:3, same 2:2"},
};

TEST(SysfsPlaces, ChooseThePairs) {
  fs::path top = fresh_top();
  ASSERT_FALSE(top.empty());
  int n = 0;
  for (const choice_case& c : CHOICE_CASES) {
    fs::path root = top / std::to_string(n++);
    write_machine(root, c.m);
    std::vector<cpu_place> places;
    ASSERT_TRUE(sysfs_places(root.string(), c.allowed, &places)) << c.name;
    EXPECT_EQ(pairs_text(auto_pairs(places)), c.pairs) << c.name;
  }
  std::error_code error;
  fs::remove_all(top, error);
}

}  // namespace
