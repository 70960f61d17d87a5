// The simulator's --link: a symbolic link to the board that replaces only
// another symbolic link and is removed when the simulator ends.
#pragma once

#include <string>

namespace vostrelle::sim {

class symlink_guard {
public:
    symlink_guard() = default;
    ~symlink_guard();
    symlink_guard(const symlink_guard &) = delete;
    symlink_guard &operator=(const symlink_guard &) = delete;

    // Makes `link` lead to `target`; false, with a message, when `link`
    // exists and is not a symbolic link or cannot be made.
    bool make(const std::string &link, const std::string &target);

private:
    std::string link_, target_;
};

} // namespace vostrelle::sim
