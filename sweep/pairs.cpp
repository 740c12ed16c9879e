// Reading --pairs and choosing the pairs for --pairs auto. The choice looks only at the places
// it is given, so that on a machine of hundreds of processors nothing is read per pair, and the
// same places always give the same pairs.
#include "sweep/pairs.h"

#include <algorithm>
#include <iterator>

namespace {

// The relations a pair of two processors can have, in the order the pairs are measured: from
// the most shared to the least.
const cpu_relation CHOSEN[] = {cpu_relation::smt_siblings, cpu_relation::shared_llc,
                               cpu_relation::separate_llc, cpu_relation::other_package};
constexpr int RELATIONS = static_cast<int>(std::size(CHOSEN));

// Reads one side of probe:load: digits only, no sign or blank. *cpu stops growing past
// MAX_PAIR_CPU, so that any number of digits is safe and a large one stays too large.
bool read_side(const std::string& text, int* cpu) {
  if (text.empty()) {
    return false;
  }
  int n = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') {
      return false;
    }
    n = std::min(n * 10 + (ch - '0'), MAX_PAIR_CPU + 1);
  }
  *cpu = n;
  return true;
}

}  // namespace

std::string read_pairs(const std::string& text, std::vector<cpu_pair>* pairs) {
  std::vector<cpu_pair> read;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    std::size_t colon = item.find(':');
    cpu_pair pair;
    // A second colon makes the load side fail as a non-digit.
    if (colon == std::string::npos || !read_side(item.substr(0, colon), &pair.probe) ||
        !read_side(item.substr(colon + 1), &pair.load)) {
      return "--pairs: '" + item + "' is not probe:load";
    }
    if (pair.probe > MAX_PAIR_CPU || pair.load > MAX_PAIR_CPU) {
      return "--pairs: '" + item + "' names a processor above " + std::to_string(MAX_PAIR_CPU);
    }
    for (const cpu_pair& earlier : read) {
      if (earlier.probe == pair.probe && earlier.load == pair.load) {
        return "--pairs: '" + item + "' is given twice";
      }
    }
    read.push_back(pair);
    if (comma == std::string::npos) {
      break;
    }
    start = comma + 1;
  }
  pairs->swap(read);
  return "";
}

std::vector<cpu_pair> auto_pairs(const std::vector<cpu_place>& places) {
  std::vector<cpu_pair> pairs;
  if (places.empty()) {
    return pairs;
  }
  // In the order probe, then load, so the first pair found of a relation is its lowest; a
  // relation stays unknown until its pair is found.
  cpu_pair found[RELATIONS];
  int left = RELATIONS;
  for (std::size_t i = 0; i < places.size() && left > 0; ++i) {
    for (std::size_t j = i + 1; j < places.size() && left > 0; ++j) {
      cpu_relation relation = place_relation(places[i], places[j]);
      for (int r = 0; r < RELATIONS; ++r) {
        if (CHOSEN[r] == relation && found[r].relation == cpu_relation::unknown) {
          found[r] = {places[i].cpu, places[j].cpu, relation};
          --left;
        }
      }
    }
  }
  for (const cpu_pair& pair : found) {
    if (pair.relation != cpu_relation::unknown) {
      pairs.push_back(pair);
    }
  }
  pairs.push_back({places.front().cpu, places.front().cpu, cpu_relation::same});
  return pairs;
}

std::vector<cpu_pair> fallback_pairs(const std::vector<int>& allowed) {
  std::vector<cpu_pair> pairs;
  if (allowed.size() >= 2) {
    pairs.push_back({allowed[0], allowed[1], cpu_relation::unknown});
  }
  if (!allowed.empty()) {
    pairs.push_back({allowed[0], allowed[0], cpu_relation::same});
  }
  return pairs;
}
