// The pairs of processors a sweep measures, probe and load: read from a --pairs list, chosen for
// --pairs auto from where the allowed processors sit, or, when that cannot be read, the lowest
// two. Pure: the caller reads the processors and their places.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

constexpr int MAX_PAIR_CPU = 63;  // the pinning masks are 64 bits wide

struct cpu_pair {
  int probe = 0;  // the processor of the pinned pass
  int load = 1;   // the processor of the load
  cpu_relation relation = cpu_relation::unknown;
};

// Reads a --pairs list such as "0:1,0:8,0:0" (probe:load, each a processor number 0 to
// MAX_PAIR_CPU written with digits only; no pair twice). "" when usable, else the problem in one
// line naming the bad item, e.g. "--pairs: '0-1' is not probe:load"; *pairs is set only when
// usable. Relations are left unknown; "auto" is not handled here.
std::string read_pairs(const std::string& text, std::vector<cpu_pair>* pairs);

// One representative pair for each relation the machine offers among the allowed processors
// (places: one per allowed processor, ascending by cpu), in the order smt_siblings, shared_llc,
// separate_llc, other_package, then the control: the lowest allowed processor paired with itself
// (relation same). For each relation the pair is the lowest: smallest probe, then smallest load,
// with probe < load. Pairs whose relation is unknown are passed over. Never empty when places is
// not empty.
std::vector<cpu_pair> auto_pairs(const std::vector<cpu_place>& places);

// The fallback when the topology cannot be read: the two lowest allowed processors (allowed
// ascending; 0:1 on a machine that allows both), relation unknown, then the control; only the
// control when one processor is allowed, nothing when none is.
std::vector<cpu_pair> fallback_pairs(const std::vector<int>& allowed);
