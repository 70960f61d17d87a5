// vostrelle-panel's command line: load the driver, scan, serve the page until
// Ctrl-C.
#include <cstring>
#include <deque>
#include <iostream>
#include <memory>

#include "board_metrics.h"
#include "command_line.h"
#include "host_main.h"
#include "metrics_options.h"
#include "ports.h"
#include "server.h"
#include "session.h"
#include "shown.h"
#include "stop_signals.h"
#include "units.h"

namespace {

using namespace vostrelle;

struct command_line {
    CLI::App app{"vostrelle-panel: the board's inputs as live curves and its outputs under the mouse, in a "
                 "browser.\n"
                 "Prints a link to open once; only this machine may connect unless --listen says otherwise.\n"
                 "Loading the driver takes about two seconds. The driver opens $VOSTRELLE_DEVICE, else "
                 "/dev/ttyACM0."};
    host::host_options host;
    std::string listen = "127.0.0.1";
    std::uint16_t port = 8765;
    bool restore_outputs = false;
    std::vector<std::string> devices;
    std::string channels_file;
    tools::metrics_options metrics;

    command_line()
    {
        app.set_version_flag("--version", "vostrelle-panel " VOSTRELLE_VERSION);
        host.add_to(app);
        app.add_option("--listen", listen,
                       "The address to serve on (default 127.0.0.1: this machine only). To open the panel "
                       "from another machine, this machine's address or name as that machine reaches it, "
                       "e.g. 192.168.1.20 or raspberrypi.local");
        app.add_option("--port", port, "TCP port (default 8765; 0: any free one)");
        app.add_flag("--restore-outputs", restore_outputs,
                     "When the board comes back after an unplug, set its outputs again as last set here "
                     "(by default they stay as the reset board has them: off)");
        host.devices =
            app.add_option("--device", devices,
                           "A board's device; repeat it to show several boards on one page, each in its own "
                           "section (default: the one board the driver opens)");
        app.add_option("--channels-file", channels_file,
                       "Channel file giving the inputs' names, units and scales (default: "
                       "$VOSTRELLE_CHANNELS, else ~/.config/vostrelle/channels.toml)");
        metrics.add_to(app);
    }
};

// Served to other machines: what anyone on the network can read, and the safe way.
void warn_plain_http(std::uint16_t port)
{
    std::cerr << "vostrelle-panel: warning: the panel speaks plain HTTP: anyone on the network can read "
                 "what it sends and receives, the token and the cookie included.\n"
                 "  Safer: leave out --listen, and from the other machine reach the panel through SSH:\n"
                 "    ssh -L "
              << port << ":127.0.0.1:" << port
              << " user@this-machine\n"
                 "  then open the printed link there.\n";
}

// What a board is called in the metrics' labels, and its inputs' channels.
struct metric_labels {
    std::string board;
    panel::board_channels inputs;
};

using board_loops = std::vector<std::unique_ptr<panel::acquisition>>;

// With --metrics: /metrics served from its own thread until the endpoint goes.
std::unique_ptr<tools::metrics_endpoint> serve_metrics(const command_line &c, const board_loops &boards,
                                                       const std::vector<metric_labels> &labels)
{
    const auto gather = [&boards, &labels] {
        std::vector<tools::board_metrics> metrics;
        for (std::size_t k = 0; k < boards.size(); ++k)
            metrics.push_back(panel::metrics_of(*boards[k], labels[k].board, labels[k].inputs));
        return tools::boards_exposition(metrics);
    };
    return c.metrics.serve(gather);
}

// Until Ctrl-C: the boards scanned, the page (and the metrics) served.
int run_panel(const command_line &c, board_loops &boards, panel::server &server, const std::string &shown,
              const std::vector<metric_labels> &labels)
{
    if (const auto failure = server.listen(c.listen, c.port)) {
        std::cerr << "vostrelle-panel: " << *failure << "\n";
        return 1;
    }
    if (server.reachable_from_network())
        warn_plain_http(server.port());
    const auto metrics = serve_metrics(c, boards, labels);
    std::cout << shown << "\n"
              << "Open this link once (its token then becomes a cookie in that browser); Ctrl-C to stop:\n"
              << "  " << server.url() << std::endl;
    for (auto &board : boards)
        board->start([&server] { server.wake_streams(); });
    server.start();
    const int signal = tools::wait_for_stop(std::nullopt);
    for (auto &board : boards)
        board->stop();
    server.stop();
    std::cerr << "vostrelle-panel: stopped by SIG" << sigabbrev_np(signal) << "\n";
    return 0;
}

// The board by its USB serial, else its device's name; each input in its channel's unit, else volts.
metric_labels labels_of(const std::string &device, const panel::input_channels &inputs)
{
    metric_labels labels{probe::usb_serial_of(device).value_or(device.substr(device.find_last_of('/') + 1)),
                         {}};
    for (std::size_t k = 0; k < inputs.size(); ++k)
        labels.inputs[k] = inputs[k].value_or(channels::channel{});
    return labels;
}

int serve(const command_line &c, const std::vector<std::string> &libraries,
          std::optional<sim::fault_mode> mode)
{
    const auto file = channels::find_channel_file(c.channels_file);
    auto session = host::open_session(libraries, mode ? host::start_simulated_board(*mode) : nullptr);
    if (!session)
        return 1;
    board_loops boards;
    boards.push_back(std::make_unique<panel::acquisition>(*session, c.restore_outputs));
    const panel::input_channels inputs = probe::channels_of(file, session->device);
    boards[0]->record_in_units(inputs);
    // Without a channel file the page is sent no channels, and shows volts.
    const std::string channels = file ? panel::channels_json(inputs) : "";
    panel::server server(
        std::vector{panel::served_board{boards[0].get(), {session->device, mode.has_value()}, channels}});
    return run_panel(c, boards, server,
                     "vostrelle-panel: board on " + session->device + (mode ? " (simulated)" : ""),
                     {labels_of(session->device, inputs)});
}

// Each board's driver loaded in turn (two seconds each), each scanned by its own loop.
int serve_boards(const command_line &c, const std::vector<std::string> &libraries)
{
    const auto file = channels::find_channel_file(c.channels_file);
    std::deque<host::session> sessions; // where the loops find them, for as long as they run
    board_loops boards;
    std::vector<panel::served_board> served;
    std::vector<metric_labels> labels;
    for (const auto &device : c.devices) {
        auto session = host::open_session(libraries, device);
        if (!session)
            return 1;
        sessions.push_back(std::move(*session));
        boards.push_back(std::make_unique<panel::acquisition>(sessions.back(), c.restore_outputs));
        const panel::input_channels inputs = probe::channels_of(file, device);
        boards.back()->record_in_units(inputs);
        served.push_back({boards.back().get(), {device, false}, panel::channels_json(inputs)});
        labels.push_back(labels_of(device, inputs));
    }
    panel::server server(std::move(served));
    std::string shown = "vostrelle-panel: boards on";
    for (const auto &device : c.devices)
        shown += " " + device;
    return run_panel(c, boards, server, shown, labels);
}

} // namespace

int main(int argc, char **argv)
{
    command_line c;
    const auto run = [&c](const std::vector<std::string> &libraries, std::optional<sim::fault_mode> mode) {
        if (const auto problem = c.metrics.problem()) {
            std::cerr << "vostrelle-panel: " << *problem << "\n";
            return tools::usage_error;
        }
        return c.devices.empty() ? serve(c, libraries, mode) : serve_boards(c, libraries);
    };
    return host::host_main("vostrelle-panel", c.app, c.host, argc, argv, run);
}
