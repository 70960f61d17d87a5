#include "run_program.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <spawn.h>
#include <sys/wait.h>

#include "processes.h"
#include "stop_signals.h"

extern char **environ;

namespace vostrelle::sim {

namespace {

constexpr int not_started = 127;
constexpr int killed_by_signal = 128;

// The started program's status once it has ended, if it has.
std::optional<int> ended(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, WNOHANG) != child)
        return std::nullopt;
    return WIFSIGNALED(status) ? killed_by_signal + WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace

int run_program(const std::vector<std::string> &command, const std::string &device)
{
    sigset_t child_signal;
    sigemptyset(&child_signal);
    sigaddset(&child_signal, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &child_signal, nullptr); // taken by the wait below

    setenv("VOSTRELLE_DEVICE", device.c_str(), 1);
    std::vector<char *> argv = tools::argument_vector(command);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults = tools::stop_signal_set();
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        std::cerr << "vostrelle-sim: cannot run " << command.front() << ": " << std::strerror(error) << "\n";
        return not_started;
    }
    for (;;) {
        const tools::taken_signal taken = tools::wait_for_stop_or_child();
        if (taken.number != SIGCHLD && taken.sent_by_process)
            kill(child, taken.number);
        if (const auto status = ended(child))
            return *status;
    }
}

} // namespace vostrelle::sim
