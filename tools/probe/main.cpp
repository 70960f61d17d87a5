// vostrelle-probe's command line: one subcommand a run.
#include <filesystem>
#include <iostream>

#include "board.h"
#include "command_line.h"
#include "host_main.h"
#include "probe.h"
#include "shown.h"
#include "text.h"

namespace {

using namespace vostrelle;

struct command_line {
    CLI::App app{
        "vostrelle-probe: load the Vostrelle driver as a host does and see what the board answers.\n"
        "Loading the driver takes about two seconds. The driver opens $VOSTRELLE_DEVICE, else /dev/ttyACM0."};
    host::host_options host;
    CLI::App *info = nullptr, *read = nullptr, *watch = nullptr, *set = nullptr, *doctor = nullptr,
             *list = nullptr, *udev_rule = nullptr, *record = nullptr, *calibrate = nullptr;
    std::string channels_file;
    int calibrate_input = 0;
    probe::read_options read_options;
    probe::record_options record_options;
    bool volts_flag = false;
    int watch_interval = 200, watch_frames = 0;
    std::string output;
    std::vector<std::string> values;
    probe::set_request request;
    probe::list_options list_options;
    std::string rule_device;

    command_line()
    {
        app.require_subcommand(1);
        app.set_version_flag("--version", "vostrelle-probe " VOSTRELLE_VERSION);
        host.add_to(app);
        info = app.add_subcommand("info", "Title, detail and every channel name");
        read = app.add_subcommand("read", "Read every analog input once (count and volts)");
        read->add_flag("--csv", read_options.csv, "Comma-separated lines: seconds,channel,name,count,volts");
        read->add_option("--count", read_options.count, "Number of rounds")->check(CLI::Range(1, 100000000));
        read->add_option("--interval", read_options.interval_ms, "Milliseconds between rounds")
            ->check(CLI::Range(0, 86400000));
        add_record();
        watch = app.add_subcommand("watch", "Live view of the eight inputs; Ctrl-C to stop");
        watch->add_option("--interval", watch_interval, "Milliseconds between refreshes")
            ->check(CLI::Range(0, 60000));
        watch->add_option("--frames", watch_frames, "Stop after this many refreshes (0: until Ctrl-C)")
            ->check(CLI::Range(0, 100000000));
        set =
            app.add_subcommand("set", "Drive an output: pwm VALUE | freq VALUE | led on|off | line K on|off");
        set->add_option("output", output, "pwm, freq, led or line")->required();
        set->add_option("values", values, "The value(s)")->required();
        set->callback([this] { check_set_request(); });
        add_calibrate();
        doctor =
            app.add_subcommand("doctor", "Explain why readings might be zeros, each finding with what to do");
        list = app.add_subcommand("list",
                                  "Every ACM and USB serial port: what it is, who may open it, who holds it");
        list->add_flag("--ask", list_options.ask,
                       "Send one conversion to each port and say which answer like the "
                       "board (other devices may not like stray bytes)");
        list->add_flag("--json", list_options.json, "One JSON document, for scripts");
        udev_rule =
            app.add_subcommand("udev-rule", "Print a udev rule for the plugged-in board: access for the "
                                            "logged-in user, no modem manager, /dev/vostrelle");
        udev_rule->add_option("device", rule_device, "The board's port (default: the driver's device)");
    }

    void check_set_request()
    {
        const auto parsed = probe::parse_set_request(output, values);
        if (!parsed.request)
            throw tools::refusal(probe::set_refusal(parsed.problem));
        request = *parsed.request;
    }

    void add_calibrate()
    {
        calibrate =
            app.add_subcommand("calibrate", "Two-point calibration of an input: apply two known values "
                                            "in turn; the channel file gets the input's calibration");
        calibrate->add_option("input", calibrate_input, "The input, 0..7")
            ->required()
            ->check(CLI::Range(0, tools::board::input_count - 1));
        for (auto *command : {read, record, watch, calibrate})
            command->add_option("--channels-file", channels_file,
                                "Channel file: names, units and scales of the inputs (default: "
                                "$VOSTRELLE_CHANNELS, else ~/.config/vostrelle/channels.toml)");
    }

    void add_record()
    {
        auto &o = record_options;
        record = app.add_subcommand("record",
                                    "Record inputs on a fixed schedule as CSV: scan k starts at k times the "
                                    "interval; Ctrl-C ends it with every row written");
        record->add_option("--channels", o.channels, "Inputs to record, e.g. 0,3,5 (default: all)")
            ->delimiter(',')
            ->check(CLI::Range(0, tools::board::input_count - 1));
        const std::string counts_help = "Record counts " + tools::zero_to(tools::board::count_highest);
        auto *counts = record->add_flag("--counts", o.counts, counts_help);
        record->add_flag("--volts", volts_flag, "Record volts 0..5 (the default)")->excludes(counts);
        auto *interval = record
                             ->add_option("--interval", o.interval_ms,
                                          "Milliseconds from one scan's start to the "
                                          "next (default 1000)")
                             ->check(CLI::Range(0.001, 86400000.0));
        record->add_option("--rate", o.rate_hz, "Scans per second, instead of --interval")
            ->check(CLI::Range(0.0001, 1000.0))
            ->excludes(interval);
        auto *duration =
            record->add_option("--duration", o.duration_s, "Seconds to record (default: until Ctrl-C)")
                ->check(CLI::Range(0.001, 1e9));
        record->add_option("--count", o.count, "Scheduled scans to record, instead of --duration")
            ->check(CLI::Range(1LL, 1000000000LL))
            ->excludes(duration);
        record->add_option("--output", o.output, "CSV file, - for standard output (the default)");
        record->add_option("--plot", o.plot, "Also draw the recording into this PNG file (needs gnuplot)");
        host.devices =
            record->add_option("--device", o.devices,
                               "A board's device; repeat it to record several boards into one file "
                               "(default: the driver's device)");
    }
};

int record(probe::session session, probe::record_plan &plan)
{
    std::vector<probe::session> boards;
    boards.push_back(std::move(session));
    return probe::run_record(boards, plan);
}

// Each board's driver loaded in turn, two seconds each; each board's inputs
// as the channel file names them.
int record_boards(const std::vector<std::string> &libraries, probe::record_plan &plan,
                  const std::optional<channels::channel_file> &file)
{
    std::vector<probe::session> boards;
    for (const auto &device : plan.devices) {
        auto session = host::open_session(libraries, device);
        if (!session)
            return 1;
        plan.shown.push_back(probe::channels_of(file, session->device));
        boards.push_back(std::move(*session));
    }
    return probe::run_record(boards, plan);
}

// What needs the board, once the driver is loaded.
int run_on_board(const command_line &c, host::session &s, std::optional<probe::record_plan> &plan,
                 const std::optional<channels::channel_file> &file)
{
    const auto shown = probe::channels_of(file, s.device);
    if (c.info->parsed())
        return probe::run_info(s);
    if (c.read->parsed())
        return probe::run_read(s, c.read_options, shown);
    if (c.record->parsed()) {
        plan->shown = {shown};
        return record(std::move(s), *plan);
    }
    if (c.watch->parsed())
        return probe::run_watch(s, c.watch_interval, c.watch_frames, shown);
    if (c.calibrate->parsed())
        return probe::run_calibrate(s, c.calibrate_input, channels::channel_file_path(c.channels_file));
    return probe::run_set(s, c.request);
}

// A bad channel file stops the run before the driver's two seconds of loading.
std::optional<channels::channel_file> channel_file_of(const command_line &c)
{
    if (c.read->parsed() || c.record->parsed() || c.watch->parsed())
        return channels::find_channel_file(c.channels_file);
    const std::string calibrated = channels::channel_file_path(c.channels_file);
    if (c.calibrate->parsed() && std::filesystem::exists(calibrated))
        channels::find_channel_file(calibrated);
    return std::nullopt;
}

int run(const command_line &c, const std::vector<std::string> &libraries, std::optional<sim::fault_mode> mode)
{
    if (c.list->parsed())
        return probe::run_list(c.list_options);
    if (c.udev_rule->parsed())
        return probe::run_udev_rule(c.rule_device);
    if (c.doctor->parsed())
        return probe::run_doctor(libraries, mode);
    std::optional<probe::record_plan> plan;
    if (c.record->parsed() && !(plan = probe::plan_recording(c.record_options)))
        return tools::usage_error;
    const auto file = channel_file_of(c);
    if (plan && !probe::open_record_outputs(*plan))
        return 1;
    if (plan && !plan->devices.empty())
        return record_boards(libraries, *plan, file);
    auto session = host::open_session(libraries, mode ? host::start_simulated_board(*mode) : nullptr);
    if (!session)
        return 1;
    return run_on_board(c, *session, plan, file);
}

} // namespace

int main(int argc, char **argv)
{
    command_line c;
    return host::host_main("vostrelle-probe", c.app, c.host, argc, argv,
                           [&c](const auto &libraries, auto mode) { return run(c, libraries, mode); });
}
