// Where each processor sits on Windows: the reader of GetLogicalProcessorInformationEx's records,
// given buffers that did not come from the running machine. One was recorded under Wine on this
// project's machine; the others are built here from the documented record layouts, because no
// Windows machine was at hand to record one. Windows only.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sweep/pairs.h"
#include "tests/places_text.h"

namespace {

const unsigned char WINE_TWO_CORES[] = {
#include "tests/wine_topology.inc"
};

// One record to build: a core, package or NUMA node with its group mask, or a cache.
struct record {
  LOGICAL_PROCESSOR_RELATIONSHIP relation;
  std::uint64_t mask;
  BYTE level = 0;
  PROCESSOR_CACHE_TYPE type = CacheUnified;
  WORD group = 0;
};

// The records one after another, each as long as Windows makes it: the header, the fixed fields
// of its relationship and one group mask.
std::vector<unsigned char> buffer_of(const std::vector<record>& records) {
  std::vector<unsigned char> buffer;
  for (const record& r : records) {
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX info = {};
    info.Relationship = r.relation;
    std::size_t size = offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor);
    if (r.relation == RelationCache) {
      info.Cache.Level = r.level;
      info.Cache.Type = r.type;
      info.Cache.GroupMask.Mask = r.mask;
      info.Cache.GroupMask.Group = r.group;
      size += sizeof info.Cache;
    } else if (r.relation == RelationNumaNode) {
      info.NumaNode.GroupMask.Mask = r.mask;
      info.NumaNode.GroupMask.Group = r.group;
      size += sizeof info.NumaNode;
    } else {
      info.Processor.GroupCount = 1;
      info.Processor.GroupMask[0].Mask = r.mask;
      info.Processor.GroupMask[0].Group = r.group;
      size += sizeof info.Processor;
    }
    info.Size = static_cast<DWORD>(size);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    buffer.insert(buffer.end(), bytes, bytes + size);
  }
  return buffer;
}

// A core's records as Windows lists them: the core, then its L1 data, L1 instruction and L2.
void add_core(std::vector<record>* records, std::uint64_t mask) {
  records->push_back({RelationProcessorCore, mask});
  records->push_back({RelationCache, mask, 1, CacheData});
  records->push_back({RelationCache, mask, 1, CacheInstruction});
  records->push_back({RelationCache, mask, 2, CacheUnified});
}

// Four cores with two hardware threads each, numbered the Windows way (a core's threads are
// neighbours), one L3 cache, one NUMA node.
std::vector<record> smt_records() {
  std::vector<record> records = {{RelationProcessorPackage, 0xff}};
  for (std::uint64_t core : {0x3u, 0xcu, 0x30u, 0xc0u}) {
    add_core(&records, core);
  }
  records.push_back({RelationCache, 0xff, 3, CacheUnified});
  records.push_back({RelationNumaNode, 0xff});
  return records;
}

// The same without its L3 cache, so that each core's L2 is its last level.
std::vector<record> smt_records_without_l3() {
  std::vector<record> records = smt_records();
  records.erase(records.end() - 2);
  return records;
}

// Two packages of four cores without SMT, two cores to an L3 cache.
std::vector<record> two_package_records() {
  std::vector<record> records;
  for (std::uint64_t package : {0x0fu, 0xf0u}) {
    records.push_back({RelationProcessorPackage, package});
    for (int cpu = 0; cpu < 8; ++cpu) {
      std::uint64_t core = std::uint64_t{1} << cpu;
      if ((package & core) != 0) {
        add_core(&records, core);
      }
    }
    records.push_back({RelationCache, package & 0x33, 3, CacheUnified});
    records.push_back({RelationCache, package & 0xcc, 3, CacheUnified});
  }
  return records;
}

struct layout_case {
  const char* name;
  std::vector<unsigned char> buffer;
  std::vector<int> cpus;
  const char* places;  // as places_text writes them
  const char* pairs;   // auto_pairs of those places, as pairs_text writes them
};

TEST(ProcessorInfoPlaces, Layouts) {
  const layout_case cases[] = {
      {"recorded under Wine: two cores sharing the L3",
       std::vector<unsigned char>(std::begin(WINE_TWO_CORES), std::end(WINE_TWO_CORES)),
       {0, 1},
       "0: package 0, core 0, llc 0-1; 1: package 0, core 1, llc 0-1",
       "shared_llc 0:1, same 0:0"},
      {"four cores with two threads each",
       buffer_of(smt_records()),
       {0, 1, 2, 3, 4, 5, 6, 7},
       "0: package 0, core 0-1, llc 0-7; 1: package 0, core 0-1, llc 0-7; "
       "2: package 0, core 2-3, llc 0-7; 3: package 0, core 2-3, llc 0-7; "
       "4: package 0, core 4-5, llc 0-7; 5: package 0, core 4-5, llc 0-7; "
       "6: package 0, core 6-7, llc 0-7; 7: package 0, core 6-7, llc 0-7",
       "smt_siblings 0:1, shared_llc 0:2, same 0:0"},
      {"the same machine, some processors allowed",
       buffer_of(smt_records()),
       {2, 3, 6},
       "2: package 0, core 2-3, llc 0-7; 3: package 0, core 2-3, llc 0-7; "
       "6: package 0, core 6-7, llc 0-7",
       "smt_siblings 2:3, shared_llc 2:6, same 2:2"},
      {"no L3: each core's L2 is its last level",
       buffer_of(smt_records_without_l3()),
       {0, 1, 2},
       "0: package 0, core 0-1, llc 0-1; 1: package 0, core 0-1, llc 0-1; "
       "2: package 0, core 2-3, llc 2-3",
       "smt_siblings 0:1, separate_llc 0:2, same 0:0"},
      {"two packages with two L3 caches each",
       buffer_of(two_package_records()),
       {0, 2, 4, 7},
       "0: package 0, core 0, llc 0-1; 2: package 0, core 2, llc 2-3; "
       "4: package 1, core 4, llc 4-5; 7: package 1, core 7, llc 6-7",
       "separate_llc 0:2, other_package 0:4, same 0:0"},
  };
  for (const layout_case& c : cases) {
    std::vector<cpu_place> places;
    ASSERT_TRUE(processor_info_places(c.buffer.data(), c.buffer.size(), c.cpus, &places)) << c.name;
    EXPECT_EQ(places_text(places), c.places) << c.name;
    EXPECT_EQ(pairs_text(auto_pairs(places)), c.pairs) << c.name;
  }
}

// Sets the Size of the record at offset.
void set_size(std::vector<unsigned char>* buffer, std::size_t offset, DWORD size) {
  std::memcpy(buffer->data() + offset + offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Size),
              &size, sizeof size);
}

struct fault_case {
  const char* name;
  std::vector<unsigned char> buffer;
  std::vector<int> cpus;
};

std::vector<unsigned char> smt_buffer_with(void (*change)(std::vector<unsigned char>*)) {
  std::vector<unsigned char> buffer = buffer_of(smt_records());
  change(&buffer);
  return buffer;
}

TEST(ProcessorInfoPlaces, Faults) {
  std::vector<record> instruction_only = {{RelationProcessorPackage, 0x3},
                                          {RelationProcessorCore, 0x3},
                                          {RelationCache, 0x3, 1, CacheInstruction}};
  std::vector<record> other_group = {{RelationProcessorPackage, 0x3},
                                     {RelationProcessorCore, 0x3, 0, CacheUnified, 1},
                                     {RelationCache, 0x3, 2, CacheUnified}};
  const fault_case cases[] = {
      {"a processor no record names", buffer_of(smt_records()), {0, 8}},
      {"a processor beyond group 0", buffer_of(smt_records()), {64}},
      {"a negative processor", buffer_of(smt_records()), {-1}},
      {"only an instruction cache", buffer_of(instruction_only), {0}},
      {"the core in another group", buffer_of(other_group), {0}},
      {"cut short inside a record",
       smt_buffer_with([](std::vector<unsigned char>* b) { b->resize(b->size() - 10); }),
       {0}},
      {"cut short inside a header",
       smt_buffer_with([](std::vector<unsigned char>* b) { b->push_back(0); }),
       {0}},
      {"a record of size 0",
       smt_buffer_with([](std::vector<unsigned char>* b) { set_size(b, 0, 0); }),
       {0}},
      {"a record running past the end",
       smt_buffer_with([](std::vector<unsigned char>* b) {
         set_size(b, 0, static_cast<DWORD>(b->size() + 8));
       }),
       {0}},
      {"a package whose group masks run past it",
       smt_buffer_with([](std::vector<unsigned char>* b) {
         WORD groups = 2;
         std::memcpy(b->data() + offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Processor) +
                         offsetof(PROCESSOR_RELATIONSHIP, GroupCount),
                     &groups, sizeof groups);
       }),
       {0}},
  };
  for (const fault_case& c : cases) {
    const std::vector<cpu_place> before = {{9, "9", {9}, {9}}};
    std::vector<cpu_place> places = before;
    EXPECT_FALSE(processor_info_places(c.buffer.data(), c.buffer.size(), c.cpus, &places))
        << c.name;
    EXPECT_EQ(places_text(places), places_text(before)) << c.name << ": the places changed";
  }
}

}  // namespace
