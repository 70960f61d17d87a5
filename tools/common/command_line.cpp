// Parsing a tool's command line, with its own usage errors; the options
// several tools share.
#include "command_line.h"

#include "metrics_options.h"

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

void metrics_options::add_to(CLI::App &app)
{
    app.add_option("--metrics", address,
                   "Serve /metrics (Prometheus's text format) on ADDRESS:PORT, e.g. 127.0.0.1:9464");
    app.add_option("--metrics-token-file", token_file,
                   "With --metrics: a file whose first line is the bearer token a scrape must show");
}

} // namespace vostrelle::tools
