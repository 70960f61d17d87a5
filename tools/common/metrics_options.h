// --metrics ADDRESS:PORT and --metrics-token-file, as every tool that serves
// /metrics takes them.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "metrics_endpoint.h"

namespace CLI {
class App;
}

namespace vostrelle::tools {

struct metrics_options {
    std::string address; // empty: no /metrics
    std::string token_file;

    void add_to(CLI::App &app); // in command_line.cpp, which alone reads CLI11's header
    // What is wrong with them, for a usage error; nothing when they are sound.
    std::optional<std::string> problem() const;
    // The endpoint they ask for, nothing without --metrics; a warning on
    // standard error when other machines can reach it. A runtime_error says
    // why it cannot listen.
    std::unique_ptr<metrics_endpoint> serve(metrics_endpoint::gather metrics) const;
};

} // namespace vostrelle::tools
