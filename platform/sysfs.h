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
