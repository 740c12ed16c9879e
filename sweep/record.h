// The sweep's record: the facts a result is read against, one CSV row per timed pass, and the
// JSON record of the whole sweep, with every pass.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sweep/options.h"
#include "sweep/pairs.h"
#include "sweep/rounds.h"

// The JSON's layout; readers (the plot script) refuse one they do not know. Results of
// affinity_sweep 1.0 have no schema field and the layout of schema 1.
constexpr int JSON_SCHEMA = 2;

// The facts a result is read against: what ran where, built by what, when.
struct machine_info {
  std::string cpu_model;
  std::string os;
  std::string compiler;
  std::vector<int> processors;  // those the process may use
  std::string date;             // UTC, ISO 8601
};

machine_info read_machine();

// "same", "smt_siblings", … as the JSON names a relation, and the words the table uses.
const char* relation_id(cpu_relation r);
const char* relation_text(cpu_relation r);

// The sweep's version, as the build names it: "1.1.0".
const char* program_version();

// Flushes out: true when everything written to it so far has reached the file.
bool flushed(std::FILE* out);

// The CSV's head line and one row per pass, each flushed as it is written so that an
// interrupted sweep keeps every pass measured so far. False when the file could not be written.
bool csv_head(std::FILE* out);
bool csv_row(std::FILE* out, const pass_record& p, cpu_relation relation);

struct sweep_record {
  machine_info machine;
  sweep_options opts;
  std::vector<cpu_pair> pairs;
  interval_kind kind = interval_kind::sequence;
  double alpha_per_size = 0.0;
  std::vector<size_summary> results;
  std::vector<pass_record> passes;
  bool complete = false;        // every pair and size was measured to its end
  bool interrupted = false;     // stopped by an interruption
  double wall_seconds = 0.0;    // the whole sweep, from the first fill to the last row
  double pass_seconds = 0.0;    // inside the timed passes
  double warmup_seconds = 0.0;  // inside the passes that set the steps and warmed up
};

// The whole record as JSON text.
std::string json_text(const sweep_record& record);
