// How the topology tests write places and chosen pairs: each as one line of text, so that a case
// states the whole expected result and a failure shows the whole result it got.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "sweep/pairs.h"
#include "sweep/record.h"
#include "sweep/table.h"

// "smt_siblings 0:4, shared_llc 0:1, same 0:0"; "" for no pair.
inline std::string pairs_text(const std::vector<cpu_pair>& pairs) {
  std::string text;
  for (const cpu_pair& pair : pairs) {
    text += (text.empty() ? "" : ", ") + std::string(relation_id(pair.relation)) + " " +
            std::to_string(pair.probe) + ":" + std::to_string(pair.load);
  }
  return text;
}

// "2: package 0, core 2-3, llc 0-7; 3: ..."
inline std::string places_text(const std::vector<cpu_place>& places) {
  std::string text;
  for (const cpu_place& place : places) {
    text += (text.empty() ? "" : "; ") + std::to_string(place.cpu) + ": package " + place.package +
            ", core " + cpu_list_text(place.core_cpus) + ", llc " + cpu_list_text(place.llc_cpus);
  }
  return text;
}
