// What the sweep writes: the table on standard output, one CSV row per timed pass, and the
// JSON record of the whole sweep.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sweep/method.h"
#include "sweep/options.h"

// The facts a result is read against: what ran where, built by what, when.
struct machine_info {
  std::string cpu_model;
  std::string os;
  std::string compiler;
  std::vector<int> processors;  // those the process may use
  cpu_relation relation = cpu_relation::unknown;
  std::string date;  // UTC, ISO 8601
};

// Reads the machine's facts for a sweep between probe_cpu and load_cpu.
machine_info read_machine(const sweep_options& opts);

// "same", "smt_siblings", … as the JSON names a relation, and the words the table uses.
const char* relation_id(cpu_relation r);
const char* relation_text(cpu_relation r);

// The sweep's version, as the build names it: "1.0.0".
const char* program_version();

// A list of processor numbers the way Linux writes one: "0-3,8".
std::string cpu_list_text(const std::vector<int>& cpus);

// 2^buflog bytes in KiB, MiB or GiB: "128 KiB".
std::string size_text(int buflog);

// The lines above the table and its column heads. false when stdout could not be written.
bool print_header(const machine_info& machine, const sweep_options& opts);
// One row of the table, flushed at once.
bool print_row(const size_summary& s, bool alone);

// The CSV's head line and one row per pass, each flushed as it is written so that an
// interrupted sweep keeps every pass measured so far. False when the file could not be written.
bool csv_head(std::FILE* out);
bool csv_row(std::FILE* out, const pass_record& p);

struct sweep_record {
  machine_info machine;
  sweep_options opts;
  std::vector<size_summary> results;
  std::vector<pass_record> passes;
  bool complete = false;        // every size was measured
  double wall_seconds = 0.0;    // the whole sweep, from the first fill to the last row
  double pass_seconds = 0.0;    // inside the timed passes
  double warmup_seconds = 0.0;  // inside the warm-up passes
};

// The whole record as JSON. False when the file could not be written.
bool write_json(std::FILE* out, const sweep_record& record);
