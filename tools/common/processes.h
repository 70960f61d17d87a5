// What the system says about files and processes: links, one-line files, and
// which processes hold a device open.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vostrelle::tools {

// Where a symbolic link points, or nothing.
std::optional<std::string> read_link(const std::string &path);

// The first line of a small file (sysfs attributes, /proc/PID/comm), without
// its newline; nothing when it cannot be read.
std::optional<std::string> read_first_line(const std::string &path);

// Calls `visit` with each entry name of a directory but . and ..; false when
// the directory cannot be read.
bool for_each_entry(const std::string &directory, const std::function<void(const std::string &)> &visit);

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

// The argv of an exec call: pointers into `words`, then a null pointer.
std::vector<char *> argument_vector(const std::vector<std::string> &words);

// The full path of a program found in $PATH, or nothing.
std::optional<std::string> program_in_path(const std::string &name);

// Runs a program (no shell) and returns its standard output, or nothing when
// it cannot be started or does not exit 0.
std::optional<std::string> output_of(const std::vector<std::string> &arguments);

// Runs a program with its output thrown away; its exit status, or nothing
// when it cannot be started or ends by a signal.
std::optional<int> status_of(const std::vector<std::string> &arguments);

} // namespace vostrelle::tools
