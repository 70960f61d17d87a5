// `doctor`: why might readings be zeros? Each check prints one line.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <iostream>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device_redirect.h"
#include "probe.h"

extern char **environ;

namespace vostrelle::probe {

namespace {

constexpr const char *i386_loader = "/lib/ld-linux.so.2";

struct verdict {
    bool ok;
    std::string text;
};

int failures = 0;

void report(const verdict &v)
{
    std::cout << (v.ok ? "ok    " : "FAIL  ") << v.text << "\n";
    failures += !v.ok;
}

std::string user_name()
{
    const passwd *user = getpwuid(getuid());
    return user ? user->pw_name : std::to_string(getuid());
}

std::string group_name(gid_t gid)
{
    const group *g = getgrgid(gid);
    return g ? g->gr_name : std::to_string(gid);
}

verdict check_exists(const std::string &device, struct stat &info)
{
    if (stat(device.c_str(), &info) != 0)
        return {false, device + " does not exist: plug the board in (the kernel names it when its cdc_acm "
                                "driver sees it; `dmesg | tail` shows it), or run `vostrelle-sim --link " +
                           device + "` to simulate one"};
    if (!S_ISCHR(info.st_mode))
        return {false, device + " exists but is not a character device: remove it and plug the board in again"};
    return {true, device + " exists"};
}

verdict check_open(const std::string &device, const struct stat &info)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return {true, user_name() + " can open " + device + " for reading and writing"};
    }
    if (errno == EACCES || errno == EPERM)
        return {false, user_name() + " may not open " + device + " (owner group '" + group_name(info.st_gid) +
                           "'): run `sudo usermod -aG " + group_name(info.st_gid) + " " + user_name() +
                           "`, then log out and in again"};
    return {false, "cannot open " + device + ": " + std::strerror(errno)};
}

// The process's command line, its arguments joined by spaces.
std::string command_line_of(const std::string &pid)
{
    std::string command;
    if (FILE *file = std::fopen(("/proc/" + pid + "/cmdline").c_str(), "r")) {
        for (int c; (c = std::fgetc(file)) != EOF;)
            command.push_back(c ? static_cast<char>(c) : ' ');
        (void)std::fclose(file);
    }
    return command;
}

verdict check_holders(const std::string &device)
{
    char resolved[4096];
    const std::string target = realpath(device.c_str(), resolved) ? resolved : device;
    std::string holders, simulators;
    DIR *processes = opendir("/proc");
    while (const dirent *process = processes ? readdir(processes) : nullptr) {
        const std::string pid = process->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || std::stoi(pid) == getpid())
            continue;
        const std::string fd_dir = "/proc/" + pid + "/fd";
        DIR *fds = opendir(fd_dir.c_str());
        bool holds = false;
        while (const dirent *fd = fds && !holds ? readdir(fds) : nullptr) {
            char link[4096];
            const ssize_t length = readlink((fd_dir + "/" + fd->d_name).c_str(), link, sizeof link - 1);
            holds = length > 0 && std::string(link, static_cast<std::size_t>(length)) == target;
        }
        if (fds)
            closedir(fds);
        if (holds) {
            const std::string command = command_line_of(pid);
            if (command.find("vostrelle-sim") != std::string::npos)
                simulators += " " + pid;
            else
                holders += " " + pid + " (" + command.substr(0, 60) + ")";
        }
    }
    if (processes)
        closedir(processes);
    if (!holders.empty())
        return {false, device + " is held by process" + holders +
                           ": its traffic would mix with the driver's; close that program first"};
    if (!simulators.empty())
        return {true, device + " is the simulated board of vostrelle-sim (process" + simulators + ")"};
    return {true, "no other process holds " + device};
}

verdict check_i386()
{
    if (access(i386_loader, F_OK) != 0)
        return {false, std::string("no i386 loader (") + i386_loader + "): install libc6-i386 or libc6:i386"};
    pid_t child = 0;
    char *const arguments[] = {const_cast<char *>(i386_loader), const_cast<char *>("--version"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int error = posix_spawn(&child, i386_loader, &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (error == 0)
        waitpid(child, &status, 0);
    if (error == 0 && WIFEXITED(status) && WEXITSTATUS(status) != 127)
        return {true, "this machine runs i386 programs and has the i386 C library"};
    if (access("/usr/bin/qemu-i386", X_OK) == 0)
        return {true, "this kernel cannot run i386 programs itself, but qemu-i386 can: start the host "
                      "application as `qemu-i386 -L / PROGRAM`"};
    return {false, "this kernel cannot run i386 programs (Exec format error): host applications for the "
                   "board need a kernel with IA32 emulation, or qemu-i386 (Debian package qemu-user)"};
}

} // namespace

int run_doctor(const std::vector<std::string> &libraries, std::optional<sim::fault_mode> simulate)
{
    std::unique_ptr<sim::simulated_board> board;
    std::string device = redirect::board_device;
    if (simulate) {
        board = start_simulated_board(*simulate);
        device = board->device_path();
        std::cout << "note  simulated board (" << sim::name_of(*simulate) << ") on " << device << "\n";
    }
    struct stat info {};
    const verdict exists = check_exists(device, info);
    report(exists);
    bool openable = false;
    if (exists.ok) {
        const verdict open = check_open(device, info);
        report(open);
        openable = open.ok;
        report(check_holders(device));
    }
    report(check_i386());

    auto s = open_session(libraries, std::move(board));
    if (!s) {
        report({false, "the driver library does not load (see above)"});
        return 1;
    }
    report({true, "loaded " + s->library + " (71 entry points)"});
    if (!openable) {
        std::cout << "skip  no conversion tried: the driver cannot reach a board\n";
        return failures ? 1 : 0;
    }
    // sa on a channel without an output only fills the reply bytes: a board
    // that does not answer leaves them as they are.
    const int sentinels[] = {0xFFFF, 0xFEFE};
    bool answered = true;
    int count = 0;
    double ms = 0;
    for (const int sentinel : sentinels) {
        s->api.sa(-1, sentinel);
        const auto start = std::chrono::steady_clock::now();
        count = s->api.ea(0);
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        answered = answered && count <= 1023;
    }
    if (answered)
        report({true, "the board answered a conversion of PA0 within the deadline (count " + std::to_string(count) +
                          ", " + std::to_string(ms).substr(0, 4) + " ms)"});
    else
        report({false, "the board did not answer a conversion within the deadline: is its firmware running? "
                       "Unplug it, plug it in again, and close other programs using it"});
    return failures ? 1 : 0;
}

} // namespace vostrelle::probe
