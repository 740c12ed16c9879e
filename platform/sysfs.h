// Linux only: how two logical processors are related, read from the kernel's CPU topology
// files. posix.cpp uses it with the real root, /sys/devices/system/cpu; the tests give it a
// fixture tree laid out the same way.
#pragma once

#include <string>

#include "platform/platform.h"

// The relation of processors a and b as the tree under root describes them: root/cpuN/topology
// gives each processor's package and SMT siblings, root/cpuN/cache/index* its caches. unknown
// when a file it needs is missing or malformed.
cpu_relation sysfs_relation(const std::string& root, int a, int b);

// --- Where each processor sits, for choosing processor pairs.

#include <vector>

// The places of cpus, in that order, from the same files as sysfs_relation: the package name as
// physical_package_id gives it, the SMT siblings and the last-level cache's shared_cpu_list. False
// when a file one of them needs is missing or malformed; *places is then left as it was.
bool sysfs_places(const std::string& root, const std::vector<int>& cpus,
                  std::vector<cpu_place>* places);
