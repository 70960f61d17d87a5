// vostrelle-mqtt's command line: load each board's driver, follow the board,
// bridge it to the broker until stopped.
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>

#include "board_metrics.h"
#include "bridge.h"
#include "command_line.h"
#include "host_main.h"
#include "metrics.h"
#include "metrics_options.h"
#include "ports.h"
#include "processes.h"
#include "shown.h"
#include "stop_signals.h"
#include "text.h"

namespace {

using namespace vostrelle;

struct command_line {
    CLI::App app{
        "vostrelle-mqtt: every board of this machine on an MQTT broker, with Home Assistant discovery.\n"
        "Each input's value goes to PREFIX/BOARD/input/N at the publish rate, the outputs' state to "
        "PREFIX/BOARD/line/N, pwm, frequency and led (retained), commands come from …/set, and "
        "PREFIX/BOARD/status says online, offline or board gone. BOARD is the board's USB serial, else "
        "its device's name. Loading the driver takes about two seconds a board."};
    host::host_options host;
    std::vector<std::string> devices;
    std::string url = "mqtt://127.0.0.1:1883";
    std::string password_file, channels_file, discovery = "on";
    tools::metrics_options metrics;
    mqtt::bridge_options bridge;

    command_line();
};

command_line::command_line()
{
    app.set_version_flag("--version", "vostrelle-mqtt " VOSTRELLE_VERSION);
    host.add_to(app);
    host.devices = app.add_option("--device", devices,
                                  "A board's device; repeat it for several boards (default: the one "
                                  "board the driver opens, $VOSTRELLE_DEVICE else /dev/ttyACM0)");
    app.add_option("--broker", url,
                   "The broker: mqtt://HOST:PORT, or mqtts://HOST:PORT for TLS (default "
                   "mqtt://127.0.0.1:1883)");
    app.add_option("--username", bridge.username, "The user name the broker knows the bridge by");
    app.add_option("--password-file", password_file, "A file whose first line is that user's password");
    app.add_option("--cafile", bridge.cafile,
                   "With mqtts://: the certificate authority that signed the "
                   "broker's certificate (default: the system's)");
    app.add_option("--prefix", bridge.prefix, "The first topic level (default vostrelle)");
    app.add_option("--rate", bridge.rate_hz, "Readings published a second, 0.1 to 25 (default 1)")
        ->check(CLI::Range(0.1, 25.0));
    app.add_option("--qos", bridge.qos, "QoS of readings and state, 0 or 1 (default 0)")
        ->check(CLI::IsMember({0, 1}));
    app.add_option("--discovery", discovery, "Home Assistant discovery configs, on or off (default on)")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_option("--queue", bridge.queue,
                   "Readings kept while the broker is away, for delivery at QoS 1 "
                   "once it is back (default 0: dropped and counted)");
    metrics.add_to(app);
    app.add_option("--channels-file", channels_file,
                   "Channel file giving the inputs' names, units and scales "
                   "(default: $VOSTRELLE_CHANNELS, else "
                   "~/.config/vostrelle/channels.toml)");
}

// The first line of the password file.
std::string read_password(const std::string &path)
{
    const auto password = tools::read_first_line(path);
    if (!password)
        throw std::runtime_error("cannot read the password file '" + path + "'");
    return *password;
}

struct board_description {
    mqtt::board_facts facts;
    mqtt::input_channels inputs;
};

// The board's name, titles and channels (by its USB serial or its path in the channel file).
board_description describe(host::session &s, const panel::acquisition &board,
                           const std::optional<channels::channel_file> &file)
{
    const auto serial = probe::usb_serial_of(s.device);
    const channels::board_entry *entry = file ? channels::board_for(*file, s.device, serial) : nullptr;
    const panel::board_names names = board.names();
    board_description described;
    described.facts = {mqtt::board_name(s.device, serial),
                       names.title,
                       tools::latin1_to_utf8(s.api.detail()),
                       serial.value_or(""),
                       VOSTRELLE_VERSION,
                       {}};
    for (int k = 0; k < tools::board::input_count; ++k) {
        described.inputs[k] = entry && entry->inputs[k] ? *entry->inputs[k] : channels::channel{};
        const auto &c = described.inputs[k];
        described.facts.inputs[k] = {c.name.empty() ? names.inputs[k] : c.name, c.unit, c.decimals};
    }
    return described;
}

struct running_boards {
    std::deque<host::session> sessions; // where the loops find them, for as long as they run
    std::vector<std::unique_ptr<panel::acquisition>> loops;
    std::vector<std::unique_ptr<mqtt::board_bridge>> bridges;
};

std::string metrics_text(const running_boards &boards)
{
    std::vector<tools::board_metrics> metrics;
    for (std::size_t k = 0; k < boards.bridges.size(); ++k) {
        const mqtt::board_bridge &bridge = *boards.bridges[k];
        metrics.push_back(panel::metrics_of(*boards.loops[k], bridge.facts().id, bridge.inputs()));
        metrics.back().broker = tools::broker_counts{bridge.reconnects(), bridge.dropped()};
    }
    return tools::boards_exposition(metrics);
}

// Until a stop signal: the boards read, the broker fed.
int run_bridges(running_boards &boards, const command_line &c)
{
    const auto metrics = c.metrics.serve([&boards] { return metrics_text(boards); });
    for (auto &loop : boards.loops)
        loop->start([] {});
    for (auto &bridge : boards.bridges)
        bridge->start();
    const int signal = tools::wait_for_stop(std::nullopt);
    for (auto &bridge : boards.bridges)
        bridge->stop();
    for (auto &loop : boards.loops)
        loop->stop();
    std::cerr << "vostrelle-mqtt: stopped by SIG" << sigabbrev_np(signal) << "\n";
    return 0;
}

void add_board(running_boards &boards, host::session session, const mqtt::bridge_options &options,
               const std::optional<channels::channel_file> &file)
{
    boards.sessions.push_back(std::move(session));
    host::session &s = boards.sessions.back();
    boards.loops.push_back(std::make_unique<panel::acquisition>(s, false, "vostrelle-mqtt"));
    board_description described = describe(s, *boards.loops.back(), file);
    std::cerr << "vostrelle-mqtt: board on " << s.device << " as " << options.prefix << "/"
              << described.facts.id << "\n";
    boards.bridges.push_back(std::make_unique<mqtt::board_bridge>(
        options, *boards.loops.back(), std::move(described.facts), described.inputs));
}

// The options CLI11 does not check, taken into c.bridge; the usage error's text otherwise.
std::optional<std::string> option_problem(command_line &c)
{
    const auto broker = mqtt::parse_broker_url(c.url);
    if (!broker)
        return "--broker takes mqtt://HOST:PORT or mqtts://HOST:PORT, not '" + c.url + "'";
    if (auto problem = c.metrics.problem())
        return problem;
    c.bridge.broker = *broker;
    c.bridge.discovery = c.discovery == "on";
    if (!c.password_file.empty())
        c.bridge.password = read_password(c.password_file);
    return std::nullopt;
}

int serve(command_line &c, const std::vector<std::string> &libraries, std::optional<sim::fault_mode> mode)
{
    if (const auto problem = option_problem(c)) {
        std::cerr << "vostrelle-mqtt: " << *problem << "\n";
        return tools::usage_error;
    }
    const auto file = channels::find_channel_file(c.channels_file);
    mqtt::client_library library;
    running_boards boards;
    if (c.devices.empty()) {
        auto session = host::open_session(libraries, mode ? host::start_simulated_board(*mode) : nullptr);
        if (!session)
            return 1;
        add_board(boards, std::move(*session), c.bridge, file);
    }
    for (const auto &device : c.devices) {
        auto session = host::open_session(libraries, device);
        if (!session)
            return 1;
        add_board(boards, std::move(*session), c.bridge, file);
    }
    return run_bridges(boards, c);
}

} // namespace

int main(int argc, char **argv)
{
    command_line c;
    const auto run = [&c](const std::vector<std::string> &libraries, std::optional<sim::fault_mode> mode) {
        return serve(c, libraries, mode);
    };
    return host::host_main("vostrelle-mqtt", c.app, c.host, argc, argv, run);
}
