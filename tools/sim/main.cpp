// vostrelle-sim: a simulated Vostrelle board on a pseudo-terminal, for
// running host applications and the probe on a machine without the board.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include "simulated_board.h"

namespace {

using namespace vostrelle;

bool parse_input(const std::string &text, int &channel, int &count)
{
    const auto equals = text.find('=');
    if (equals == std::string::npos)
        return false;
    try {
        std::size_t used_channel = 0, used_count = 0;
        channel = std::stoi(text.substr(0, equals), &used_channel);
        count = std::stoi(text.substr(equals + 1), &used_count, 0);
        return used_channel == equals && used_count == text.size() - equals - 1 && channel >= 0 && channel < 8 &&
               count >= 0 && count <= 1023;
    } catch (const std::exception &) {
        return false;
    }
}

// Makes `link` lead to `target`. Only a symbolic link may be replaced.
bool make_link(const std::string &link, const std::string &target)
{
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            std::cerr << "vostrelle-sim: " << link << " exists and is not a symbolic link; not replacing it\n";
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::cerr << "vostrelle-sim: cannot create " << link << ": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

void remove_link(const std::string &link, const std::string &target)
{
    char points_to[4096];
    const ssize_t length = readlink(link.c_str(), points_to, sizeof points_to - 1);
    if (length > 0 && std::string(points_to, static_cast<std::size_t>(length)) == target)
        unlink(link.c_str());
}

std::string hex_bytes(const std::vector<std::uint8_t> &bytes)
{
    std::string text;
    char byte[4];
    for (const auto b : bytes) {
        (void)std::snprintf(byte, sizeof byte, "%02X ", b);
        text += byte;
    }
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    CLI::App app{"vostrelle-sim: a simulated Vostrelle board on a pseudo-terminal. Runs until Ctrl-C or SIGTERM."};
    std::string link, mode_name = "healthy";
    std::vector<std::string> inputs;
    bool wave = false, trace = false;
    int late_us = 5500;
    double seconds = 0;
    app.add_option("--link", link, "Also reach the board through this symbolic link (e.g. /dev/ttyACM0)");
    app.add_option("--input", inputs, "Fix an input: K=COUNT, K 0..7, COUNT 0..1023 (repeatable)");
    app.add_flag("--wave", wave, "Inputs follow slow sine waves");
    app.add_option("--mode", mode_name, "healthy|silent|one-byte|late|garbage|flood");
    app.add_option("--late-us", late_us, "Delay of a late reply, in microseconds")->check(CLI::Range(0, 10000000));
    app.add_flag("--trace", trace, "Print every exchange with its time and direction");
    app.add_option("--seconds", seconds, "Stop after this many seconds")->check(CLI::Range(0.0, 1e9));
    CLI11_PARSE(app, argc, argv);

    const auto mode = sim::parse_fault_mode(mode_name);
    if (!mode) {
        std::cerr << "vostrelle-sim: unknown mode '" << mode_name << "'\n";
        return 2;
    }
    std::vector<std::pair<int, int>> fixed;
    for (const auto &text : inputs) {
        int channel = 0, count = 0;
        if (!parse_input(text, channel, count)) {
            std::cerr << "vostrelle-sim: --input takes K=COUNT with K 0..7 and COUNT 0..1023, not '" << text << "'\n";
            return 2;
        }
        fixed.emplace_back(channel, count);
    }

    // The board's thread must not take these signals: they end the program.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop_signals, nullptr);

    sim::simulated_board board(*mode);
    board.set_recording(false);
    board.set_waveform(wave);
    board.set_late_delay(std::chrono::microseconds(late_us));
    for (const auto &[channel, count] : fixed)
        board.set_input(channel, static_cast<std::uint16_t>(count));
    if (trace) {
        const auto start = std::chrono::steady_clock::now();
        board.on_exchange([start](const sim::exchange &e) {
            const double ms = std::chrono::duration<double, std::milli>(e.at - start).count();
            std::printf("%12.3f ms  %s  %-12s %s\n", ms, e.from_driver ? "host -> board" : "board -> host",
                        hex_bytes(e.bytes).c_str(), e.meaning.c_str());
            (void)std::fflush(stdout);
        });
    }
    if (!link.empty() && !make_link(link, board.device_path()))
        return 1;
    std::cout << "vostrelle-sim: " << sim::name_of(*mode) << " board on " << board.device_path();
    if (!link.empty())
        std::cout << ", linked from " << link;
    std::cout << std::endl;

    const auto whole_seconds = static_cast<time_t>(seconds);
    const timespec limit{whole_seconds, static_cast<long>((seconds - static_cast<double>(whole_seconds)) * 1e9)};
    const int signal = seconds > 0 ? sigtimedwait(&stop_signals, nullptr, &limit) : sigwaitinfo(&stop_signals, nullptr);
    if (!link.empty())
        remove_link(link, board.device_path());
    std::cout << "vostrelle-sim: stopped" << (signal > 0 ? std::string(" by ") + strsignal(signal) : "") << std::endl;
    return 0;
}
