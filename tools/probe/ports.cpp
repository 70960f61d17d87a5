// Serial ports: their names, USB identity, access and holders.
#include "ports.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "processes.h"

namespace vostrelle::probe {

namespace {

constexpr const char *stable_names = "/dev/serial/by-id";
constexpr const char *port_prefixes[] = {"ttyACM", "ttyUSB"};
// A tty's sysfs device is the USB interface (ACM) or a port below it (USB
// serial adapters); the USB device with its IDs is a few levels up.
constexpr int usb_device_search_depth = 4;

std::string sysfs_root()
{
    const char *root = std::getenv("VOSTRELLE_SYSFS_ROOT");
    return root && root[0] ? root : "/sys";
}

std::string resolved(const std::string &path)
{
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? buffer : path;
}

std::string base_name(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

std::string group_name(gid_t gid)
{
    const group *g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

std::optional<std::string> stable_name_of(const std::string &device)
{
    const std::string target = resolved(device);
    std::optional<std::string> found;
    tools::for_each_entry(stable_names, [&](const std::string &name) {
        const std::string link = std::string(stable_names) + "/" + name;
        if (!found && resolved(link) == target)
            found = link;
    });
    return found;
}

} // namespace

std::vector<std::string> serial_port_paths()
{
    std::vector<std::string> paths;
    tools::for_each_entry("/dev", [&](const std::string &name) {
        for (const char *prefix : port_prefixes)
            if (name.starts_with(prefix) && name.size() > std::string_view(prefix).size())
                paths.push_back("/dev/" + name);
    });
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::optional<usb_identity> usb_identity_of(const std::string &device)
{
    const std::string tty = sysfs_root() + "/class/tty/" + base_name(resolved(device)) + "/device";
    std::string directory = resolved(tty);
    if (directory == tty)
        return std::nullopt; // no sysfs device: not a real port
    for (int level = 0; level < usb_device_search_depth;
         ++level, directory = resolved(directory.append("/.."))) {
        const auto vendor = tools::read_first_line(directory + "/idVendor");
        if (!vendor)
            continue;
        const auto attribute = [&](const char *name) {
            return tools::read_first_line(directory + "/" + name).value_or("");
        };
        return usb_identity{*vendor, attribute("idProduct"), attribute("manufacturer"), attribute("product"),
                            attribute("serial")};
    }
    return std::nullopt;
}

std::optional<std::string> usb_serial_of(const std::string &device)
{
    const auto usb = usb_identity_of(device);
    return usb && !usb->serial.empty() ? std::optional(usb->serial) : std::nullopt;
}

port_access access_to(const std::string &device)
{
    port_access found;
    struct stat info {};
    if (stat(device.c_str(), &info) != 0)
        return found;
    found.exists = true;
    found.character_device = S_ISCHR(info.st_mode);
    found.owner = info.st_uid;
    found.gid = info.st_gid;
    found.group = group_name(info.st_gid);
    found.mode = info.st_mode;
    // access() asks the kernel with this session's credentials, ACLs included.
    found.can_open = access(device.c_str(), R_OK | W_OK) == 0;
    return found;
}

serial_port describe_port(const std::string &path)
{
    return {path, stable_name_of(path), usb_identity_of(path), access_to(path), processes_holding(path)};
}

std::string mode_text(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISLNK(mode) ? "l" : S_ISDIR(mode) ? "d" : "-";
    const char letters[] = "rwx";
    for (int bit = 8; bit >= 0; --bit)
        text += (mode & (1u << bit)) ? letters[(8 - bit) % 3] : '-';
    return text;
}

} // namespace vostrelle::probe
