// The board's device as the system shows it: which device its path leads
// to, the descriptors this process holds on it, whether its port hung up.
// Each answers from one or two system calls, cheap enough for every scan.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vostrelle::host {

struct device_identity {
    dev_t device = 0; // of the file system holding the node
    ino_t inode = 0;
    dev_t rdev = 0; // the device itself

    bool operator==(const device_identity &) const = default;
};

// What `path` leads to, links followed; nothing when it leads nowhere.
std::optional<device_identity> identity_of(const std::string &path);

// This process's descriptors open on the device `identity` names (the
// driver's port among them), from /proc/self/fd.
std::vector<int> descriptors_on(const device_identity &identity);

// Whether any of `descriptors` has hung up or failed: a poll that waits for
// nothing and asks for no event.
bool hung_up(const std::vector<int> &descriptors);

} // namespace vostrelle::host
