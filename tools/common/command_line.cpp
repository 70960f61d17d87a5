// Parsing a tool's command line, with its own usage errors.
#include "command_line.h"

namespace vostrelle::tools {

std::optional<int> parse_command_line(CLI::App &app, int argc, char **argv)
{
    app.failure_message([](const CLI::App *failed, const CLI::Error &error) {
        const bool worded = error.get_name() == "Refusal";
        return worded ? std::string(error.what()) : CLI::FailureMessage::simple(failed, error);
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : usage_error;
    }
    return std::nullopt;
}

} // namespace vostrelle::tools
