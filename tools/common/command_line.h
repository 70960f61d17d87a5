// Command-line parsing shared by the tools: CLI11, with the exit statuses of
// these tools (0 for --help, 2 for any usage error).
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

namespace vostrelle::tools {

inline constexpr int usage_error = 2;

// A usage error whose whole text (ending with a newline) the tool words
// itself; thrown from a check or callback, it is printed as it is and the tool
// exits with usage_error.
class refusal : public CLI::ParseError {
public:
    explicit refusal(std::string text) : ParseError("Refusal", std::move(text), usage_error) {}
};

// Parses; returns the status to exit with when the program should stop here
// (help shown, or a usage error explained), nothing when it should go on.
std::optional<int> parse_command_line(CLI::App &app, int argc, char **argv);

} // namespace vostrelle::tools
