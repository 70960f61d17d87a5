// The device's identity, the descriptors on it and their hang-up, from
// stat, /proc/self/fd and poll.
#include "device_watch.h"

#include <cerrno>
#include <charconv>
#include <poll.h>
#include <sys/stat.h>

#include "processes.h"

namespace vostrelle::host {

namespace {

// stat or fstat through one door: nothing when the call fails.
template <typename Target, typename Call> std::optional<struct stat> status_of(Target target, Call call)
{
    struct stat status {};
    if (call(target, &status) != 0)
        return std::nullopt;
    return status;
}

std::optional<int> descriptor_number(const std::string &name)
{
    int number = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc{} || end != name.data() + name.size())
        return std::nullopt;
    return number;
}

std::optional<device_identity> identity_from(const std::optional<struct stat> &status)
{
    if (!status)
        return std::nullopt;
    return device_identity{status->st_dev, status->st_ino, status->st_rdev};
}

} // namespace

std::optional<device_identity> identity_of(const std::string &path)
{
    return identity_from(status_of(path.c_str(), ::stat));
}

std::vector<int> descriptors_on(const device_identity &identity)
{
    std::vector<int> found;
    tools::for_each_entry("/proc/self/fd", [&](const std::string &name) {
        const auto number = descriptor_number(name);
        if (number && identity_from(status_of(*number, ::fstat)) == identity)
            found.push_back(*number);
    });
    return found;
}

bool hung_up(const std::vector<int> &descriptors)
{
    std::vector<pollfd> polled;
    polled.reserve(descriptors.size());
    for (const int fd : descriptors)
        polled.push_back({fd, 0, 0});
    int ready = 0;
    do
        ready = poll(polled.data(), polled.size(), 0);
    while (ready < 0 && errno == EINTR);
    for (const auto &entry : polled)
        if (entry.revents & (POLLHUP | POLLERR | POLLNVAL))
            return true;
    return false;
}

} // namespace vostrelle::host
