#include <CLI/CLI.hpp>

#include "probe.h"

namespace {

using namespace vostrelle;

std::string mode_list()
{
    std::string list;
    for (const auto &entry : sim::fault_mode_names)
        list += (list.empty() ? "" : "|") + std::string(entry.name);
    return list;
}

} // namespace

int main(int argc, char **argv)
{
    CLI::App app{"vostrelle-probe: load the Vostrelle driver as a host does and see what the board answers.\n"
                 "Loading the driver takes about two seconds."};
    app.require_subcommand(1);

    std::string library;
    std::string simulate_mode;
    app.add_option("--library", library, "Driver library to load (default: the freshly built or installed one)");
    auto *simulate = app.add_option("--simulate", simulate_mode,
                                    "Use a simulated board instead of /dev/ttyACM0; MODE " + mode_list() +
                                        " (default healthy). Write it as --simulate or --simulate=MODE")
                         ->expected(0, 1);

    auto *info = app.add_subcommand("info", "Title, detail and every channel name");
    probe::read_options read_options;
    auto *read = app.add_subcommand("read", "Read every analog input once (count and volts)");
    read->add_flag("--csv", read_options.csv, "Comma-separated lines: seconds,channel,name,count,volts");
    read->add_option("--count", read_options.count, "Number of rounds")->check(CLI::Range(1, 100000000));
    read->add_option("--interval", read_options.interval_ms, "Milliseconds between rounds")
        ->check(CLI::Range(0, 86400000));
    int watch_interval = 200, watch_frames = 0;
    auto *watch = app.add_subcommand("watch", "Live view of the eight inputs; Ctrl-C to stop");
    watch->add_option("--interval", watch_interval, "Milliseconds between refreshes")->check(CLI::Range(0, 60000));
    watch->add_option("--frames", watch_frames, "Stop after this many refreshes (0: until Ctrl-C)")
        ->check(CLI::Range(0, 100000000));
    std::string output;
    std::vector<std::string> values;
    auto *set = app.add_subcommand("set", "Drive an output: pwm VALUE | freq VALUE | led on|off | line K on|off");
    set->add_option("output", output, "pwm, freq, led or line")->required();
    set->add_option("values", values, "The value(s)")->required();
    auto *doctor = app.add_subcommand("doctor", "Explain why readings might be zeros");

    CLI11_PARSE(app, argc, argv);

    std::optional<sim::fault_mode> mode;
    if (simulate->count() > 0) {
        mode = sim::parse_fault_mode(simulate_mode.empty() ? "healthy" : simulate_mode);
        if (!mode) {
            std::cerr << "vostrelle-probe: unknown simulation mode '" << simulate_mode << "' (use " << mode_list()
                      << ")\n";
            return 2;
        }
    }
    const std::vector<std::string> libraries =
        library.empty() ? probe::default_library_paths() : std::vector<std::string>{library};

    std::optional<probe::set_request> request;
    if (set->parsed() && !(request = probe::parse_set_request(output, values)))
        return 2;
    if (doctor->parsed())
        return probe::run_doctor(libraries, mode);
    auto session = probe::open_session(libraries, mode ? probe::start_simulated_board(*mode) : nullptr);
    if (!session)
        return 1;
    if (info->parsed())
        return probe::run_info(*session);
    if (read->parsed())
        return probe::run_read(*session, read_options);
    if (watch->parsed())
        return probe::run_watch(*session, watch_interval, watch_frames);
    if (set->parsed())
        return probe::run_set(*session, *request);
    return 2;
}
