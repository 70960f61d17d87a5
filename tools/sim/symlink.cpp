#include "symlink.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include "processes.h"

namespace vostrelle::sim {

bool symlink_guard::make(const std::string &link, const std::string &target)
{
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            std::cerr << "vostrelle-sim: " << link
                      << " exists and is not a symbolic link; not replacing it\n";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::cerr << "vostrelle-sim: cannot create " << link << ": " << std::strerror(errno)
                  << " (without root, use --run or --print-device instead)\n";
        return false;
    }
    link_ = link;
    target_ = target;
    return true;
}

symlink_guard::~symlink_guard()
{
    // Only our own link: something else may have replaced it meanwhile.
    if (!link_.empty() && tools::read_link(link_) == target_)
        unlink(link_.c_str());
}

} // namespace vostrelle::sim
