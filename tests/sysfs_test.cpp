// How two processors are related, read from a small sysfs tree written for each case: a healthy
// machine of two cores with two hardware threads each, changed by the case into the topology or
// the fault it shows. Linux only.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/sysfs.h"

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

// Processors 0 and 2 are one core, 1 and 3 the other, all in package 0. Each core has its own L1
// data, L1 instruction and L2 caches; the L3 cache is shared.
void write_healthy(const fs::path& root) {
  const char* const siblings[] = {"0,2", "1,3", "0,2", "1,3"};
  const char* const caches[][2] = {
      {"1", "Data"}, {"1", "Instruction"}, {"2", "Unified"}, {"3", "Unified"}};
  for (int cpu = 0; cpu < 4; ++cpu) {
    fs::path dir = root / ("cpu" + std::to_string(cpu));
    put(dir / "topology/physical_package_id", "0");
    put(dir / "topology/thread_siblings_list", siblings[cpu]);
    for (int index = 0; index < 4; ++index) {
      fs::path cache = dir / "cache" / ("index" + std::to_string(index));
      put(cache / "level", caches[index][0]);
      put(cache / "type", caches[index][1]);
      put(cache / "shared_cpu_list", index == 3 ? "0-3" : siblings[cpu]);
    }
  }
}

struct relation_case {
  const char* name;
  // Files changed from the healthy tree: a path under the root and its new value, or nullptr to
  // remove the file or directory.
  std::vector<std::pair<const char*, const char*>> changes;
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
  std::string pattern = testing::TempDir() + "sysfs_XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  fs::path top = pattern;
  int n = 0;
  for (const relation_case& c : CASES) {
    fs::path root = top / std::to_string(n++);
    write_healthy(root);
    for (const auto& change : c.changes) {
      if (change.second == nullptr) {
        std::error_code error;
        fs::remove_all(root / change.first, error);
      } else {
        put(root / change.first, change.second);
      }
    }
    EXPECT_EQ(sysfs_relation(root.string(), c.a, c.b), c.expected) << c.name;
  }
  std::error_code error;
  fs::remove_all(top, error);
}

}  // namespace
