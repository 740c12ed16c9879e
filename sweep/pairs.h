// Processor pairs for the sweep: reading a --pairs list, and the representative pair of each
// relation the machine offers for --pairs auto.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct cpu_pair {
  int probe = 0;  // the processor of the pinned pass
  int load = 1;   // the processor of the load
  cpu_relation relation = cpu_relation::unknown;
};
