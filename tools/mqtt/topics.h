// The bridge's topic tree and the commands read from it: PREFIX/BOARD/input/N,
// PREFIX/BOARD/line/N, pwm, frequency, led, status, error, and …/set.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vostrelle::mqtt {

// A name made fit for one topic level: '/', '+', '#', spaces and control
// characters become '_'.
std::string topic_level(std::string_view name);

// BOARD: the USB serial when the board has one, else the device's name
// ("/dev/ttyACM0" gives "ttyACM0").
std::string board_name(const std::string &device, const std::optional<std::string> &serial);

enum class output { line, pwm, frequency, led };

// The LED is line 0: its topic and its line's carry the same state.
inline constexpr int led_line = 0;

struct board_topics {
    std::string base; // PREFIX/BOARD

    std::string input(int k) const { return base + "/input/" + std::to_string(k); }
    std::string line(int k) const { return base + "/line/" + std::to_string(k); }
    std::string pwm() const { return base + "/pwm"; }
    std::string frequency() const { return base + "/frequency"; }
    std::string led() const { return base + "/led"; }
    std::string status() const { return base + "/status"; }
    std::string error() const { return base + "/error"; }
    std::string dropped() const { return base + "/dropped"; }  // readings dropped while the broker was away
    std::string set_filter() const { return base + "/+/set"; } // and line/N/set
    std::string line_set_filter() const { return base + "/line/+/set"; }
};

// What a …/set message asks of the board, validated as the panel validates a
// change.
struct command {
    output what = output::line;
    int line = 0;  // for output::line
    int value = 0; // the duty, frequency value, or 1/0 for a line or the LED
};

// The command, or why it is refused (published on …/error, never sent to
// the board).
std::variant<command, std::string> read_command(const board_topics &topics, std::string_view topic,
                                                std::string_view payload);

} // namespace vostrelle::mqtt
