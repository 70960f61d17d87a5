// vostrelle-probe calibrate: two known values applied in turn, their volts
// written into the channel file as the input's calibration.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "board_follower.h"
#include "calibration_edit.h"
#include "ports.h"
#include "probe.h"
#include "text.h"

namespace vostrelle::probe {

namespace {

constexpr int readings_per_point = 4;

const char *const new_file_text = "# vostrelle channel file: each input's name, unit and scale\n";

// The number typed on one line; nothing at the end of input.
std::optional<double> typed_value(const char *which)
{
    for (;;) {
        std::cout << "Apply the " << which << " known value, type it and press Enter: " << std::flush;
        std::string line;
        if (!std::getline(std::cin, line))
            return std::nullopt;
        char *end = nullptr;
        errno = 0;
        const double value = std::strtod(line.c_str(), &end);
        if (end != line.c_str() && *end == '\0' && errno == 0 && std::isfinite(value))
            return value;
        std::cout << "not a number: '" << line << "' (e.g. 25 or 0.5)\n";
    }
}

// The input's volts, the mean of a few answered conversions (a reply missed
// now and then is asked again); nothing when the board does not answer.
std::optional<double> measured_volts(session &s, int input)
{
    double sum = 0;
    int answered = 0;
    for (int tries = 0; answered < readings_per_point && tries < 4 * readings_per_point; ++tries)
        if (const auto volts = host::answered_volts(s, input)) {
            sum += *volts;
            ++answered;
        }
    return answered == readings_per_point ? std::optional(sum / readings_per_point) : std::nullopt;
}

std::optional<channels::point> calibration_point(session &s, int input, const char *which)
{
    const auto value = typed_value(which);
    if (!value)
        return std::nullopt;
    const auto volts = measured_volts(s, input);
    if (!volts)
        throw std::runtime_error("calibrate: the board does not answer; nothing written");
    std::cout << "  " << tools::formatted("%.4f", *volts) << " V for " << *value << "\n";
    return channels::point{*volts, *value};
}

std::string current_text(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        return new_file_text;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int run_calibrate(session &s, int input, const std::string &path)
{
    std::cout << "Calibrating input " << input << " (" << tools::latin1_to_utf8(s.api.nead(input))
              << ") of the board at " << s.device << " into " << path << ".\n";
    const auto first = calibration_point(s, input, "first");
    const auto second = first ? calibration_point(s, input, "second") : std::nullopt;
    if (!second) {
        std::cerr << "calibrate: stopped before the second value; nothing written\n";
        return 1;
    }
    const channels::board_identity board{s.device, usb_serial_of(s.device)};
    const std::string text =
        channels::with_calibration(current_text(path), path, board, input, *first, *second);
    channels::replace_file(path, text);
    std::cout << "calibration of input " << input << " written to " << path << "\n";
    return 0;
}

} // namespace vostrelle::probe
