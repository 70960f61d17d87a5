// Files, links and directories as the system shows them, and starting programs.
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

#include "stop_signals.h"

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

posix_spawn_file_actions_t *output_to(posix_spawn_file_actions_t &actions, int output_fd)
{
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    return &actions;
}

posix_spawnattr_t *stop_signals_reset(posix_spawnattr_t &attributes)
{
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    const sigset_t defaults = stop_signal_set();
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return &attributes;
}

// Starts `arguments` quietly with its standard output on `output_fd`; its
// pid, or nothing.
std::optional<pid_t> start(const std::vector<std::string> &arguments, int output_fd)
{
    const spawned child = spawn(arguments, {.output_fd = output_fd});
    return child.error == 0 ? std::optional<pid_t>(child.pid) : std::nullopt;
}

// The exit status of a program that exited, nothing for one a signal ended.
std::optional<int> exit_status(pid_t child)
{
    const auto end = wait_for(child, true);
    return end && end->signal == 0 ? std::optional<int>(end->status) : std::nullopt;
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

spawned spawn(const std::vector<std::string> &arguments, const spawn_options &options)
{
    std::vector<char *> argv = argument_vector(arguments);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    const auto *redirect = options.output_fd >= 0 ? output_to(actions, options.output_fd) : nullptr;
    const auto *signals = options.default_stop_signals ? stop_signals_reset(attributes) : nullptr;
    const auto spawner = options.search_path ? posix_spawnp : posix_spawn;
    spawned child;
    child.error = spawner(&child.pid, argv[0], redirect, signals, argv.data(), environ);
    if (redirect)
        posix_spawn_file_actions_destroy(&actions);
    if (signals)
        posix_spawnattr_destroy(&attributes);
    return child;
}

std::optional<ending> wait_for(pid_t child, bool block)
{
    int status = 0;
    pid_t waited = 0;
    while ((waited = waitpid(child, &status, block ? 0 : WNOHANG)) < 0)
        if (errno != EINTR)
            return std::nullopt;
    if (waited != child)
        return std::nullopt; // still running
    return WIFSIGNALED(status) ? ending{0, WTERMSIG(status)} : ending{WEXITSTATUS(status), 0};
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
