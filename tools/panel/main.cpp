// vostrelle-panel's command line: load the driver, scan, serve the page until
// Ctrl-C.
#include <cstring>
#include <iostream>

#include "host_main.h"
#include "server.h"
#include "session.h"
#include "stop_signals.h"

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

int serve(const command_line &c, const std::vector<std::string> &libraries,
          std::optional<sim::fault_mode> mode)
{
    auto session = host::open_session(libraries, mode ? host::start_simulated_board(*mode) : nullptr);
    if (!session)
        return 1;
    panel::acquisition board(*session, c.restore_outputs);
    panel::server server(board, {session->device, mode.has_value()});
    if (const auto failure = server.listen(c.listen, c.port)) {
        std::cerr << "vostrelle-panel: " << *failure << "\n";
        return 1;
    }
    if (server.reachable_from_network())
        warn_plain_http(server.port());
    std::cout << "vostrelle-panel: board on " << session->device << (mode ? " (simulated)" : "") << "\n"
              << "Open this link once (its token then becomes a cookie in that browser); Ctrl-C to stop:\n"
              << "  " << server.url() << std::endl;
    board.start([&server] { server.wake_streams(); });
    server.start();
    const int signal = tools::wait_for_stop(std::nullopt);
    board.stop();
    server.stop();
    std::cerr << "vostrelle-panel: stopped by SIG" << sigabbrev_np(signal) << "\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    command_line c;
    const auto run = [&c](const std::vector<std::string> &libraries, std::optional<sim::fault_mode> mode) {
        return serve(c, libraries, mode);
    };
    return host::host_main("vostrelle-panel", c.app, c.host, argc, argv, run);
}
