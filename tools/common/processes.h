// What the system says about files (links, one-line files, directories), and
// starting programs and waiting for them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
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

// The argv of an exec call: pointers into `words`, then a null pointer.
std::vector<char *> argument_vector(const std::vector<std::string> &words);

// The full path of a program found in $PATH, or nothing.
std::optional<std::string> program_in_path(const std::string &name);

struct spawn_options {
    int output_fd = -1;                // standard output there, standard error to /dev/null
    bool search_path = false;          // the first word looked up in PATH
    bool default_stop_signals = false; // unblocked and back to their defaults in the program
};

struct spawned {
    pid_t pid = 0;
    int error = 0; // an errno value when it could not be started
};

// Starts a program (no shell).
spawned spawn(const std::vector<std::string> &arguments, const spawn_options &options);

// How a program ended: its exit status, or the signal that ended it.
struct ending {
    int status = 0;
    int signal = 0;
};

// Waits for `child` to end (only looks, when `block` is false); nothing when
// it has not ended or cannot be waited for.
std::optional<ending> wait_for(pid_t child, bool block);

// Runs a program (no shell) and returns its standard output, or nothing when
// it cannot be started or does not exit 0.
std::optional<std::string> output_of(const std::vector<std::string> &arguments);

// Runs a program with its output thrown away; its exit status, or nothing
// when it cannot be started or ends by a signal.
std::optional<int> status_of(const std::vector<std::string> &arguments);

} // namespace vostrelle::tools
