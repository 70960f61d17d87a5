// Scanning /proc for the processes that hold a device or run a program.
#include "holders.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string_view>
#include <unistd.h>

#include "processes.h"
#include "text.h"

namespace vostrelle::probe {

namespace {

using tools::for_each_entry;
using tools::read_first_line;
using tools::read_link;

void for_each_process(const std::function<void(int pid)> &visit)
{
    for_each_entry("/proc", [&](const std::string &name) {
        if (const auto pid = tools::parse_int(name, 1, INT_MAX); pid && *pid != getpid())
            visit(*pid);
    });
}

// Options of a user-mode emulator (qemu-i386 -L / PROGRAM …) that take a value.
constexpr std::string_view emulator_options_with_value[] = {
    "-L", "-E", "-U", "-cpu", "-B", "-R", "-d", "-D", "-p", "-r", "-0", "-s", "-seed", "-trace", "-plugin"};

// The program a user-mode emulator runs, from its command line.
std::optional<std::string> emulated_program(int pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> words;
    for (std::string word; std::getline(file, word, '\0');)
        words.push_back(word);
    for (std::size_t k = 1; k < words.size(); ++k) {
        if (words[k].empty() || words[k][0] != '-')
            return words[k].substr(words[k].rfind('/') + 1);
        const auto &options = emulator_options_with_value;
        if (std::find(std::begin(options), std::end(options), words[k]) != std::end(options))
            ++k;
    }
    return std::nullopt;
}

// The program's name; for one run by an emulator, the emulated program's.
std::string name_of(int pid)
{
    std::string name = read_first_line("/proc/" + std::to_string(pid) + "/comm").value_or("?");
    if (name.starts_with("qemu-"))
        return emulated_program(pid).value_or(name);
    return name;
}

} // namespace

device_holders processes_holding(const std::string &device)
{
    char resolved[PATH_MAX];
    const std::string target = realpath(device.c_str(), resolved) ? resolved : device;
    device_holders found;
    for_each_process([&](int pid) {
        const std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
        bool holds = false;
        const bool examined = for_each_entry(descriptors, [&](const std::string &fd) {
            holds = holds || read_link(descriptors + "/" + fd) == target;
        });
        if (!examined && access(("/proc/" + std::to_string(pid)).c_str(), F_OK) == 0)
            ++found.unexamined;
        else if (holds)
            found.holders.push_back({pid, name_of(pid)});
    });
    return found;
}

std::vector<process> processes_named(const std::string &name)
{
    std::vector<process> found;
    for_each_process([&](int pid) {
        if (name_of(pid) == name)
            found.push_back({pid, name});
    });
    return found;
}

} // namespace vostrelle::probe
