// The sweep's table on standard output: the lines that say what was measured and how, and one
// row per size, printed as soon as the size is measured.
#pragma once

#include <string>
#include <vector>

#include "sweep/options.h"
#include "sweep/pairs.h"
#include "sweep/record.h"
#include "sweep/rounds.h"

// A list of processor numbers the way Linux writes one: "0-3,8".
std::string cpu_list_text(const std::vector<int>& cpus);

// 2^buflog bytes in KiB, MiB or GiB: "128 KiB".
std::string size_text(int buflog);

// What the header says of the method besides the machine.
struct method_text {
  interval_kind kind = interval_kind::sequence;
  double alpha_per_size = 0.0;
  int units = 1;  // pairs times sizes
};

// The lines above the tables: the machine, the method, the interval and the verdicts, and for a
// sweep of several pairs the list of them. False when stdout could not be written.
bool print_header(const machine_info& machine, const sweep_options& opts,
                  const std::vector<cpu_pair>& pairs, const method_text& how);
// The head of one pair's table: its pair line and the column heads.
bool print_table_head(const cpu_pair& pair, const sweep_options& opts);
// One row of the table, flushed at once.
bool print_row(const size_summary& s, const sweep_options& opts);
