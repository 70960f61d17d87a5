// vostrelle-sim: a simulated Vostrelle board on a pseudo-terminal, for
// running host applications and the probe on a machine without the board.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <system_error>
#include <thread>

#include "board.h"
#include "command_line.h"
#include "run_program.h"
#include "simulated_board.h"
#include "stop_signals.h"
#include "symlink.h"
#include "text.h"
#include "tracer.h"

namespace {

using namespace vostrelle;

struct options {
    std::string link, mode_name = "healthy";
    std::vector<std::string> inputs, steps, command;
    bool wave = false, trace = false, print_device = false, run = false;
    int late_us = static_cast<int>(tools::board::late_reply_delay.count());
    double seconds = 0;
    sim::fault_mode mode = sim::fault_mode::healthy;
    std::vector<std::pair<int, std::uint16_t>> fixed;
    struct step {
        double seconds;
        std::pair<int, std::uint16_t> input;
    };
    std::vector<step> timed;
};

using input_setting = std::pair<int, std::uint16_t>;

std::string input_range()
{
    return tools::zero_to(tools::board::input_count - 1);
}

std::string count_range()
{
    return tools::zero_to(tools::board::count_highest);
}

// K=COUNT with K an input and COUNT 0..1023.
std::optional<input_setting> parse_input(std::string_view text)
{
    const auto equals = text.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    const auto channel = tools::parse_int(text.substr(0, equals), 0, tools::board::input_count - 1);
    const auto count = tools::parse_int(text.substr(equals + 1), 0, tools::board::count_highest);
    if (!channel || !count)
        return std::nullopt;
    return input_setting{*channel, static_cast<std::uint16_t>(*count)};
}

// K=COUNT@SECONDS, SECONDS 0..86400.
std::optional<options::step> parse_step(const std::string &text)
{
    const auto at = text.rfind('@');
    const auto input = parse_input(std::string_view(text).substr(0, at));
    const std::string when = at == std::string::npos ? "" : text.substr(at + 1);
    double seconds = -1;
    const auto [end, error] = std::from_chars(when.data(), when.data() + when.size(), seconds);
    if (!input || error != std::errc{} || end != when.data() + when.size() || seconds < 0 || seconds > 86400)
        return std::nullopt;
    return options::step{seconds, *input};
}

void take_mode(options &o, const std::string &name)
{
    const auto mode = sim::parse_fault_mode(name);
    if (!mode)
        throw tools::refusal("vostrelle-sim: unknown mode '" + name + "' (use " + sim::fault_mode_list() +
                             ")\n");
    o.mode = *mode;
}

void take_input(options &o, const std::string &text)
{
    const auto input = parse_input(text);
    if (!input)
        throw tools::refusal("vostrelle-sim: --input takes K=COUNT with K " + input_range() + " and COUNT " +
                             count_range() + ", not '" + text + "'\n");
    o.fixed.push_back(*input);
}

void take_step(options &o, const std::string &text)
{
    const auto step = parse_step(text);
    if (!step)
        throw tools::refusal("vostrelle-sim: --step takes K=COUNT@SECONDS, SECONDS 0..86400, not '" + text +
                             "'\n");
    o.timed.push_back(*step);
}

// The checks CLI11 cannot make, once it has read the whole line (and answered
// --help); a refusal on the first problem.
void complete(options &o)
{
    take_mode(o, o.mode_name);
    for (const auto &text : o.inputs)
        take_input(o, text);
    for (const auto &text : o.steps)
        take_step(o, text);
    std::sort(o.timed.begin(), o.timed.end(),
              [](const auto &a, const auto &b) { return a.seconds < b.seconds; });
    if (o.run != !o.command.empty())
        throw tools::refusal(
            "vostrelle-sim: --run takes a program after --: vostrelle-sim --run -- PROGRAM [ARGS...]\n");
}

void set_up(sim::simulated_board &board, const options &o, std::unique_ptr<sim::tracer> &trace)
{
    board.set_recording(false);
    board.set_waveform(o.wave);
    board.set_late_delay(std::chrono::microseconds(o.late_us));
    for (const auto &[channel, count] : o.fixed)
        board.set_input(channel, count);
    if (o.trace) {
        trace = std::make_unique<sim::tracer>();
        board.on_exchange([t = trace.get()](const sim::exchange &e) { t->take(e); });
    }
}

// Sets the inputs of --step at their times and says when, on the wall clock
// (milliseconds since 1970), so that a program's reaction can be timed.
std::jthread step_inputs(sim::simulated_board &board, const options &o)
{
    return std::jthread([&board, &o](const std::stop_token &stop) {
        std::mutex mutex;
        std::condition_variable_any never;
        const auto start = std::chrono::steady_clock::now();
        for (const auto &step : o.timed) {
            std::unique_lock lock(mutex);
            const auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                         std::chrono::duration<double>(step.seconds));
            if (never.wait_until(lock, stop, due, [] { return false; }), stop.stop_requested())
                return;
            board.set_input(step.input.first, step.input.second);
            const auto wall = std::chrono::system_clock::now().time_since_epoch();
            std::cerr << std::fixed << std::setprecision(3) << "vostrelle-sim: input " << step.input.first
                      << " set to " << step.input.second << " at "
                      << std::chrono::duration<double, std::milli>(wall).count() << " ms" << std::endl;
        }
    });
}

// Serves until a stop signal or the end of --seconds; the exit status.
int serve(const options &o)
{
    const auto limit = o.seconds > 0 ? std::optional(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::duration<double>(o.seconds)))
                                     : std::nullopt;
    const int signal = tools::wait_for_stop(limit);
    std::cerr << "vostrelle-sim: stopped" << (signal > 0 ? std::string(" by ") + strsignal(signal) : "")
              << std::endl;
    return 0;
}

int simulate(const options &o)
{
    std::unique_ptr<sim::tracer> trace; // outlives the board that calls it
    sim::simulated_board board(o.mode);
    set_up(board, o, trace);
    sim::symlink_guard link;
    if (!o.link.empty() && !link.make(o.link, board.device_path()))
        return 1;
    if (o.print_device)
        std::cout << board.device_path() << std::endl;
    std::cerr << "vostrelle-sim: " << sim::name_of(o.mode) << " board on " << board.device_path()
              << (o.link.empty() ? "" : ", linked from " + o.link) << std::endl;
    const std::jthread stepper = step_inputs(board, o);
    return o.run ? sim::run_program(o.command, board.device_path()) : serve(o);
}

void describe_options(CLI::App &app, options &o)
{
    app.set_version_flag("--version", "vostrelle-sim " VOSTRELLE_VERSION);
    app.add_option("--link", o.link,
                   "Also reach the board through this symbolic link (e.g. /dev/ttyACM0; needs "
                   "write access there)");
    app.add_flag("--print-device", o.print_device,
                 "Print the board's terminal path on a line of its own and keep "
                 "running: give it to a host as VOSTRELLE_DEVICE");
    app.add_flag("--run", o.run,
                 "Run the program after -- with VOSTRELLE_DEVICE set to the board, end with it and "
                 "exit with its status");
    app.add_option("command", o.command, "With --run: the program and its arguments, after --");
    app.add_option("--input", o.inputs,
                   "Fix an input: K=COUNT, K " + input_range() + ", COUNT " + count_range() +
                       " (repeatable)");
    app.add_option("--step", o.steps,
                   "Set an input at a time: K=COUNT@SECONDS after the start, saying when on the "
                   "wall clock, to time a program's reaction (repeatable)");
    app.add_flag("--wave", o.wave, "Inputs follow slow sine waves");
    app.add_option("--mode", o.mode_name, sim::fault_mode_list());
    app.add_option("--late-us", o.late_us, "Delay of a late reply, in microseconds")
        ->check(CLI::Range(0, 10000000));
    app.add_flag("--trace", o.trace, "Print every exchange with its time and direction");
    app.add_option("--seconds", o.seconds, "Stop after this many seconds")->check(CLI::Range(0.0, 1e9));
    app.callback([&o] { complete(o); });
}

} // namespace

int main(int argc, char **argv)
{
    tools::hold_stop_and_child_signals(); // before the board's and the trace's threads start
    options o;
    CLI::App app{
        "vostrelle-sim: a simulated Vostrelle board on a pseudo-terminal. Runs until Ctrl-C, SIGTERM or "
        "SIGHUP, or for as long as the program given with --run."};
    describe_options(app, o);
    if (const auto status = tools::parse_command_line(app, argc, argv))
        return *status;
    try {
        return simulate(o);
    } catch (const std::system_error &error) {
        std::cerr << "vostrelle-sim: " << error.what() << "\n";
        return 1;
    }
}
