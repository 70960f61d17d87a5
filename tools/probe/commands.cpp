// info, read, watch and set: what the board answers, and driving its outputs.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "board.h"
#include "board_follower.h"
#include "probe.h"
#include "shown.h"
#include "stop_signals.h"
#include "text.h"

namespace vostrelle::probe {

namespace {

constexpr int analog_inputs = tools::board::input_count;
constexpr int digital_lines = tools::board::line_count;
// A host walks each kind until the empty name; the walk stops here even if
// a library never answers one.
constexpr int longest_channel_list = 256;

struct channel_kind {
    const char *title;
    vostrelle_nea_fn host::entry_points::*name_of;
};

constexpr std::array<channel_kind, 6> channel_kinds{{
    {"analog inputs, count (nea)", &host::entry_points::nea},
    {"analog inputs, volts (nead)", &host::entry_points::nead},
    {"binary inputs (neb)", &host::entry_points::neb},
    {"analog outputs (nsa)", &host::entry_points::nsa},
    {"analog outputs, volts (nsad)", &host::entry_points::nsad},
    {"binary outputs (nsb)", &host::entry_points::nsb},
}};

// Pauses between readings; true when a stop signal came (see stop_signals.h).
bool stopped_during(int ms)
{
    return tools::wait_for_stop(std::chrono::milliseconds(ms)) != 0;
}

struct reading {
    int count;
    double volts;
};

reading read_input(session &s, int channel)
{
    return {s.api.ea(channel), s.api.ead(channel)};
}

std::string bar(double fraction, int width)
{
    const int filled = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * width));
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '.');
}

void show_line_readback(session &s)
{
    std::cout << "read-back (rsb):";
    for (int line = 0; line < digital_lines; ++line)
        std::cout << "  PB" << line << "=" << s.api.rsb(line);
    std::cout << "\n";
}

bool reached(const set_request &request, const sim::board_outputs &seen)
{
    if (!request.analog)
        return ((seen.lines >> request.channel) & 1) == (request.value > 0 ? 1 : 0);
    return request.channel == 0 ? seen.pwm_duty == request.value
                                : request.channel != 1 || seen.frequency == request.value;
}

} // namespace

using tools::latin1_to_utf8;

int run_info(session &s)
{
    std::cout << "title:   " << latin1_to_utf8(s.api.titre()) << "\n";
    std::cout << "detail:  " << latin1_to_utf8(s.api.detail()) << "\n";
    std::cout << "library: " << s.library << "\n";
    if (s.board)
        std::cout << "board:   simulated on " << s.board->device_path() << "\n";
    for (const auto &kind : channel_kinds) {
        std::cout << "\n" << kind.title << ":\n";
        int channel = 0;
        for (; channel < longest_channel_list; ++channel) {
            const std::string name = latin1_to_utf8((s.api.*kind.name_of)(channel));
            if (name.empty())
                break;
            std::cout << "  " << std::setw(2) << channel << "  " << name << "\n";
        }
        if (channel == 0)
            std::cout << "  (none)\n";
    }
    return 0;
}

namespace {

// The read's line of one input: as it always was, then its value in the
// file's unit when the file names any input.
std::string read_line(const read_options &options, int channel, const std::string &name, const reading &r,
                      double seconds)
{
    std::ostringstream line;
    line << std::fixed;
    if (options.csv)
        line << std::setprecision(3) << seconds << "," << channel << "," << name << "," << r.count << ","
             << std::setprecision(4) << r.volts;
    else
        line << std::setw(7) << channel << "  " << std::left << std::setw(17) << name << std::right
             << std::setw(6) << r.count << std::setw(9) << std::setprecision(4) << r.volts;
    return line.str();
}

std::string value_columns(const read_options &options, const std::optional<channels::channel> &c,
                          double volts)
{
    const channels::channel shown = c.value_or(channels::channel{});
    const std::string value = channels::value_text(shown, volts);
    return options.csv ? "," + value + "," + shown.unit : "  " + value + " " + shown.unit;
}

bool any_named(const input_channels &shown)
{
    return std::any_of(shown.begin(), shown.end(), [](const auto &c) { return c.has_value(); });
}

} // namespace

int run_read(session &s, const read_options &options, const input_channels &shown)
{
    const auto start = std::chrono::steady_clock::now();
    const bool units = any_named(shown);
    if (options.csv)
        std::cout << "seconds,channel,name,count,volts" << (units ? ",value,unit\n" : "\n");
    for (int round = 0; round < options.count; ++round) {
        if (round > 0 && stopped_during(options.interval_ms))
            break;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!options.csv)
            std::cout << (round ? "\n" : "") << "channel  name               count    volts"
                      << (units ? "  value\n" : "\n");
        for (int channel = 0; channel < analog_inputs; ++channel) {
            const auto &c = shown[static_cast<std::size_t>(channel)];
            const std::string name = c && !c->name.empty() ? c->name : s.api.nea(channel);
            const reading r = read_input(s, channel);
            std::cout << read_line(options, channel, name, r, seconds)
                      << (units ? value_columns(options, c, r.volts) : "") << "\n";
        }
        std::cout.flush();
    }
    return 0;
}

namespace {

// The live view: the lowest and highest volts seen of each input, and whether
// the next frame redraws the last one in place (not after a message).
struct watch_screen {
    std::array<double, analog_inputs> low{}, high{};
    bool in_place = false;

    watch_screen()
    {
        low.fill(1e9);
        high.fill(-1e9);
    }

    // In the file's unit where it names the input, else in volts.
    void show(int channel, const reading &r, const std::optional<channels::channel> &named)
    {
        const channels::channel c = named.value_or(channels::channel{});
        const double value = channels::value_of(c.scaling, r.volts);
        low[channel] = std::min(low[channel], value);
        high[channel] = std::max(high[channel], value);
        std::ostringstream line;
        line << std::fixed << std::setprecision(c.decimals) << "\r\x1b[2KPA" << channel << " ["
             << bar(r.volts / tools::board::full_scale_volts, 30) << "] " << std::setw(6) << value << " "
             << c.unit << " " << std::setw(5) << r.count << "   min " << low[channel] << "  max "
             << high[channel] << "\n";
        std::cout << line.str();
    }

    void show_missing(int channel, const host::follow_machine &machine)
    {
        std::cout << "\r\x1b[2KPA" << channel << "  (" << missing_text(machine) << ")\n";
    }

    static std::string missing_text(const host::follow_machine &machine)
    {
        switch (machine.state()) {
        case host::board_state::answering:
            return "no answer";
        case host::board_state::silent:
            return "board silent since " + host::clock_text(machine.since().wall);
        default:
            return "board gone since " + host::clock_text(machine.since().wall);
        }
    }
};

// Every input once, counts and volts; nothing when the board did not answer
// (a live view: a reply missed now and then shows as it always did).
std::optional<std::array<reading, analog_inputs>> read_inputs(session &s, host::board_follower &follower)
{
    if (!follower.ready())
        return std::nullopt;
    const auto began = std::chrono::steady_clock::now();
    std::array<reading, analog_inputs> readings{};
    for (int channel = 0; channel < analog_inputs; ++channel)
        readings[channel] = read_input(s, channel);
    if (!follower.answered(std::chrono::steady_clock::now() - began, {analog_inputs, analog_inputs}))
        return std::nullopt;
    return readings;
}

void show_frame(watch_screen &screen, const std::optional<std::array<reading, analog_inputs>> &readings,
                const host::follow_machine &machine, const input_channels &shown)
{
    if (screen.in_place)
        std::cout << "\x1b[" << analog_inputs << "A";
    for (int channel = 0; channel < analog_inputs; ++channel)
        if (readings)
            screen.show(channel, (*readings)[channel], shown[static_cast<std::size_t>(channel)]);
        else
            screen.show_missing(channel, machine);
    std::cout.flush();
    screen.in_place = true;
}

// The pause after a frame: longer while the board is gone or silent, until
// the follower's next look at it.
int pause_ms(int interval_ms, const host::board_follower &follower)
{
    const auto until_next =
        std::chrono::ceil<std::chrono::milliseconds>(follower.next_call() - std::chrono::steady_clock::now());
    return std::max(interval_ms, static_cast<int>(until_next.count()));
}

} // namespace

int run_watch(session &s, int interval_ms, int frames, const input_channels &shown)
{
    watch_screen screen;
    host::board_follower follower(s, [&screen, &s](const host::state_change &change) {
        std::cout.flush();
        std::cerr << "watch: " << host::change_text(change, s.device) << "\n";
        screen.in_place = false; // the message took a line: draw the next frame below it
    });
    std::cout << "\x1b[?25l"
              << "Live analog inputs, every " << interval_ms << " ms. Ctrl-C to stop.\n";
    screen.in_place = false;
    bool stopped = false;
    for (int frame = 0; !stopped && (frames <= 0 || frame < frames); ++frame) {
        const auto readings = read_inputs(s, follower);
        show_frame(screen, readings, follower.machine(), shown);
        if (frames <= 0 || frame + 1 < frames)
            stopped = stopped_during(pause_ms(interval_ms, follower));
    }
    std::cout << "\x1b[?25h" << std::flush;
    return 0;
}

int run_set(session &s, const set_request &request)
{
    if (request.analog) {
        std::cout << "sa(" << request.channel << ", " << request.value << ") returned "
                  << s.api.sa(request.channel, request.value) << "\n";
        std::cout << "analog outputs are not read back (rsa(" << request.channel
                  << ") = " << s.api.rsa(request.channel) << ")\n";
    } else {
        std::cout << "sb(" << request.channel << ", " << request.value << ") returned "
                  << s.api.sb(request.channel, request.value) << "\n";
    }
    show_line_readback(s);
    if (s.board) {
        // The simulated board takes the command on its own thread.
        sim::board_outputs seen = s.board->outputs();
        for (int wait = 0; wait < 100 && !reached(request, seen); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            seen = s.board->outputs();
        }
        std::cout << "simulated board now has: pwm " << seen.pwm_duty << ", freq " << seen.frequency
                  << ", lines 0x" << std::hex << std::setw(2) << std::setfill('0') << int(seen.lines)
                  << std::dec << "\n";
    }
    return 0;
}

} // namespace vostrelle::probe
