// Reading `set OUTPUT VALUE…` into a request.
#include "set_request.h"

#include <array>
#include <string_view>

#include "board.h"
#include "text.h"

namespace vostrelle::probe {

namespace {

struct analog_output {
    std::string_view name;
    int channel; // of sa
    int highest;
};

constexpr std::array<analog_output, 2> analog_outputs{{
    {"pwm", 0, tools::board::pwm_highest},
    {"freq", 1, tools::board::frequency_highest},
}};

constexpr int highest_line = tools::board::line_count - 1;

std::optional<int> parse_switch(const std::string &text)
{
    if (text == "on" || text == "1")
        return 1;
    if (text == "off" || text == "0")
        return 0;
    return std::nullopt;
}

set_parse analog(const analog_output &output, const std::vector<std::string> &values)
{
    const auto value = values.size() == 1 ? tools::parse_int(values[0], 0, output.highest) : std::nullopt;
    if (!value)
        return {std::nullopt,
                std::string(output.name) + " takes one value from 0 to " + std::to_string(output.highest)};
    return {set_request{true, output.channel, *value}, ""};
}

set_parse led(const std::vector<std::string> &values)
{
    const auto on = values.size() == 1 ? parse_switch(values[0]) : std::nullopt;
    if (!on)
        return {std::nullopt, "led takes on or off"};
    return {set_request{false, 0, *on}, ""};
}

set_parse line(const std::vector<std::string> &values)
{
    const auto number = values.size() == 2 ? tools::parse_int(values[0], 0, highest_line) : std::nullopt;
    const auto on = values.size() == 2 ? parse_switch(values[1]) : std::nullopt;
    if (!number || !on)
        return {std::nullopt, "line takes a line number " + tools::zero_to(highest_line) + " and on or off"};
    return {set_request{false, *number, *on}, ""};
}

} // namespace

set_parse parse_set_request(const std::string &what, const std::vector<std::string> &values)
{
    for (const analog_output &output : analog_outputs)
        if (what == output.name)
            return analog(output, values);
    if (what == "led")
        return led(values);
    if (what == "line")
        return line(values);
    return {std::nullopt, "unknown output '" + what + "'"};
}

std::string set_refusal(const std::string &problem)
{
    std::string usage = "use:";
    for (const analog_output &output : analog_outputs)
        usage += " set " + std::string(output.name) + " " + tools::zero_to(output.highest) + " |";
    usage += " set led on|off | set line " + tools::zero_to(highest_line) + " on|off\n";
    return "vostrelle-probe set: " + problem + "\n" + usage;
}

} // namespace vostrelle::probe
