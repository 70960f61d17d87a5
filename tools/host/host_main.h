// What every host tool's main does: --library and --simulate on its command
// line, stop signals held, the simulation mode checked, errors reported.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "simulated_board.h"

namespace vostrelle::host {

struct host_options {
    std::string library;
    std::string simulate_mode;
    CLI::Option *simulate = nullptr;
    // Set by a tool that takes boards with --device: --simulate beside it is
    // refused, as a usage error.
    CLI::Option *devices = nullptr;

    // Adds --library and --simulate[=MODE] to `app`, and the check of the
    // mode: a refusal, as a usage error, of one that does not exist or of one
    // beside --device.
    void add_to(CLI::App &app);
    void check_simulate_mode(const CLI::App &app) const;
    // The library given, else default_library_paths().
    std::vector<std::string> libraries() const;
};

using host_run =
    std::function<int(const std::vector<std::string> &libraries, std::optional<sim::fault_mode> mode)>;

// Holds the stop signals, parses, checks --simulate (usage error 2 for an
// unknown mode), then runs `run`; an exception it throws is printed after
// "PROGRAM: " and ends it with status 1.
int host_main(const char *program, CLI::App &app, const host_options &options, int argc, char **argv,
              const host_run &run);

} // namespace vostrelle::host
