// The simulator's --run: start the program, pass stop signals on, wait for its end.
#include "run_program.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "processes.h"
#include "stop_signals.h"

namespace vostrelle::sim {

namespace {

constexpr int not_started = 127;
constexpr int killed_by_signal = 128;

// The started program's status once it has ended, if it has.
std::optional<int> ended(pid_t child)
{
    const auto end = tools::wait_for(child, false);
    if (!end)
        return std::nullopt;
    return end->signal ? killed_by_signal + end->signal : end->status;
}

} // namespace

int run_program(const std::vector<std::string> &command, const std::string &device)
{
    setenv("VOSTRELLE_DEVICE", device.c_str(), 1);
    const tools::spawned child = tools::spawn(command, {.search_path = true, .default_stop_signals = true});
    if (child.error != 0) {
        std::cerr << "vostrelle-sim: cannot run " << command.front() << ": " << std::strerror(child.error)
                  << "\n";
        return not_started;
    }
    for (;;) {
        const tools::taken_signal taken = tools::wait_for_stop_or_child();
        if (taken.number != SIGCHLD && taken.sent_by_process)
            kill(child.pid, taken.number);
        if (const auto status = ended(child.pid))
            return *status;
    }
}

} // namespace vostrelle::sim
