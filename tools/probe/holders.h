// Which processes hold a device open, and which run a given program, as
// /proc shows them.
#pragma once

#include <string>
#include <vector>

namespace vostrelle::probe {

struct process {
    int pid = 0;
    std::string name; // /proc/PID/comm
};

struct device_holders {
    std::vector<process> holders;
    // Processes whose descriptors could not be looked at (another user's,
    // for anyone but root).
    int unexamined = 0;
};

// Every process but this one with a descriptor on `device` (after
// resolving links).
device_holders processes_holding(const std::string &device);

// Processes whose program name is `name`.
std::vector<process> processes_named(const std::string &name);

} // namespace vostrelle::probe
