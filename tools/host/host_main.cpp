// The main shared by the host tools: --library, --simulate and the run.
#include "host_main.h"

#include <cerrno>
#include <ctime>
#include <iostream>

#include "session.h"
#include "stop_signals.h"

namespace vostrelle::host {

namespace {

// The program's name, and the subcommand's after it where one was given.
std::string command_name(const CLI::App &app)
{
    std::string name = program_invocation_short_name;
    for (const CLI::App *command : app.get_subcommands())
        name += " " + command->get_name();
    return name;
}

} // namespace

void host_options::add_to(CLI::App &app)
{
    app.add_option("--library", library, "Driver library to load (default: the installed one)");
    simulate = app.add_option("--simulate", simulate_mode,
                              "Use a simulated board; MODE " + sim::fault_mode_list() +
                                  " (default healthy). Write it as --simulate or --simulate=MODE")
                   ->expected(0, 1);
    // Checked once the whole line is read, after --help and CLI11's own
    // checks, and before any subcommand's.
    app.parse_complete_callback([this, &app] { check_simulate_mode(app); });
}

void host_options::check_simulate_mode(const CLI::App &app) const
{
    const bool known = simulate_mode.empty() || sim::parse_fault_mode(simulate_mode); // empty: healthy
    if (simulate->count() > 0 && !known)
        throw tools::refusal(unknown_mode_text(simulate_mode));
    if (simulate->count() > 0 && devices != nullptr && devices->count() > 0)
        throw tools::refusal(command_name(app) +
                             ": --simulate gives one simulated board; name boards with --device or simulate "
                             "one, not both\n");
}

std::vector<std::string> host_options::libraries() const
{
    return library.empty() ? default_library_paths() : std::vector<std::string>{library};
}

int host_main(const char *program, CLI::App &app, const host_options &options, int argc, char **argv,
              const host_run &run)
{
    // Reads TZ once, now: later localtime_r calls on any thread then leave the
    // environment alone while a board thread sets VOSTRELLE_DEVICE to reload
    // its driver (session.cpp).
    tzset();
    tools::hold_stop_signals(); // before any thread starts
    if (const auto status = tools::parse_command_line(app, argc, argv))
        return *status;
    std::optional<sim::fault_mode> mode;
    if (options.simulate->count() > 0)
        mode = simulation_mode(options.simulate_mode); // checked by now
    try {
        return run(options.libraries(), mode);
    } catch (const std::exception &error) {
        std::cerr << program << ": " << error.what() << "\n";
        return 1;
    }
}

} // namespace vostrelle::host
