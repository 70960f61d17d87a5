// `set`: each output's request, and the refusal of what does not fit it.
#include <gtest/gtest.h>

#include "set_request.h"

namespace {

using vostrelle::probe::parse_set_request;

struct accepted_case {
    const char *what;
    std::vector<std::string> values;
    bool analog;
    int channel, value;
};

TEST(set_request, each_output_goes_to_its_call)
{
    const accepted_case cases[] = {
        {"pwm", {"128"}, true, 0, 128},      {"freq", {"65535"}, true, 1, 65535},
        {"freq", {"0x10"}, true, 1, 16},     {"led", {"on"}, false, 0, 1},
        {"led", {"0"}, false, 0, 0},         {"line", {"3", "on"}, false, 3, 1},
        {"line", {"7", "off"}, false, 7, 0},
    };
    for (const auto &c : cases) {
        const auto parsed = parse_set_request(c.what, c.values);
        ASSERT_TRUE(parsed.request) << c.what << ": " << parsed.problem;
        EXPECT_EQ(parsed.request->analog, c.analog) << c.what;
        EXPECT_EQ(parsed.request->channel, c.channel) << c.what;
        EXPECT_EQ(parsed.request->value, c.value) << c.what;
    }
}

TEST(set_request, refuses_with_what_each_output_takes)
{
    const std::pair<std::pair<const char *, std::vector<std::string>>, const char *> cases[] = {
        {{"pwm", {"256"}}, "pwm takes one value from 0 to 255"},
        {{"pwm", {"1", "2"}}, "pwm takes one value from 0 to 255"},
        {{"freq", {"70000"}}, "freq takes one value from 0 to 65535"},
        {{"led", {"maybe"}}, "led takes on or off"},
        {{"line", {"8", "on"}}, "line takes a line number 0..7 and on or off"},
        {{"line", {"3"}}, "line takes a line number 0..7 and on or off"},
        {{"lamp", {"on"}}, "unknown output 'lamp'"},
    };
    for (const auto &[input, problem] : cases) {
        const auto parsed = parse_set_request(input.first, input.second);
        EXPECT_FALSE(parsed.request) << input.first;
        EXPECT_EQ(parsed.problem, problem);
    }
    EXPECT_EQ(vostrelle::probe::set_refusal("led takes on or off"),
              "vostrelle-probe set: led takes on or off\n"
              "use: set pwm 0..255 | set freq 0..65535 | set led on|off | set line 0..7 on|off\n");
}

} // namespace
