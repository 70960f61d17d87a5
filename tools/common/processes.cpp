#include "processes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "text.h"

extern char **environ;

namespace vostrelle::tools {

bool for_each_entry(const std::string &directory, const std::function<void(const std::string &)> &visit)
{
    DIR *entries = opendir(directory.c_str());
    if (!entries)
        return false;
    while (const dirent *entry = readdir(entries)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            visit(name);
    }
    closedir(entries);
    return true;
}

namespace {

void for_each_process(const std::function<void(int pid)> &visit)
{
    for_each_entry("/proc", [&](const std::string &name) {
        if (const auto pid = parse_int(name, 1, INT_MAX); pid && *pid != getpid())
            visit(*pid);
    });
}

// Starts `arguments` with its standard output on `output_fd`; its pid, or
// nothing.
std::optional<pid_t> start(const std::vector<std::string> &arguments, int output_fd)
{
    std::vector<char *> argv = argument_vector(arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? std::optional<pid_t>(child) : std::nullopt;
}

std::optional<int> exit_status(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return std::nullopt;
    return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
}

// Options of a user-mode emulator (qemu-i386 -L / PROGRAM …) that take a value.
constexpr std::string_view emulator_options_with_value[] = {"-L", "-E", "-U", "-cpu", "-B", "-R", "-d", "-D",
                                                            "-p", "-r", "-0", "-s", "-seed", "-trace", "-plugin"};

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

std::vector<char *> argument_vector(const std::vector<std::string> &words)
{
    std::vector<char *> argv;
    argv.reserve(words.size() + 1);
    for (const auto &word : words)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    return argv;
}

std::optional<std::string> read_link(const std::string &path)
{
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

std::optional<std::string> read_first_line(const std::string &path)
{
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line))
        return std::nullopt;
    return line;
}

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

std::optional<std::string> program_in_path(const std::string &name)
{
    const char *path = getenv("PATH");
    std::string_view directories = path ? path : "/usr/bin:/bin";
    while (!directories.empty()) {
        const auto colon = std::min(directories.find(':'), directories.size());
        const std::string candidate = std::string(directories.substr(0, colon)) + "/" + name;
        if (colon > 0 && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        directories.remove_prefix(std::min(colon + 1, directories.size()));
    }
    return std::nullopt;
}

std::optional<std::string> output_of(const std::vector<std::string> &arguments)
{
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0)
        return std::nullopt;
    const auto child = start(arguments, pipe_fds[1]);
    close(pipe_fds[1]);
    std::string output;
    char chunk[4096];
    for (ssize_t got; child && (got = read(pipe_fds[0], chunk, sizeof chunk)) != 0;) {
        if (got > 0)
            output.append(chunk, static_cast<std::size_t>(got));
        else if (errno != EINTR)
            break;
    }
    close(pipe_fds[0]);
    if (!child || exit_status(*child) != 0)
        return std::nullopt;
    return output;
}

std::optional<int> status_of(const std::vector<std::string> &arguments)
{
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const auto child = start(arguments, null);
    close(null);
    return child ? exit_status(*child) : std::nullopt;
}

} // namespace vostrelle::tools
