// The simulator's --run: a program started with VOSTRELLE_DEVICE set to the
// simulated board, whose end ends the simulator.
#pragma once

#include <string>
#include <vector>

namespace vostrelle::sim {

// Runs `command` (the first word looked up in PATH) with the stop signals
// back to their defaults, passes on stop signals sent to the simulator by
// another process (the terminal sends its own to both), and returns the
// program's exit status, 128 + N when signal N ended it, 127 when it could
// not be started. The caller holds the stop signals and SIGCHLD blocked in
// every thread (tools::hold_stop_and_child_signals).
int run_program(const std::vector<std::string> &command, const std::string &device);

} // namespace vostrelle::sim
