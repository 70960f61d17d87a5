// What the panel takes as a change of an output or as the live stream's
// history, and the reason it gives for anything else.
#include <gtest/gtest.h>

#include "request_rules.h"

namespace {

using namespace vostrelle::panel;

TEST(changes, pwm_and_frequency_take_whole_numbers_within_the_board_range)
{
    EXPECT_EQ(pwm_duty("0"), (std::variant<int, refusal>(0)));
    EXPECT_EQ(pwm_duty("255"), (std::variant<int, refusal>(255)));
    EXPECT_EQ(std::get<refusal>(pwm_duty("256")),
              (refusal{400, "the PWM duty is a whole number from 0 to 255, not '256'"}));
    for (const char *body : {"half", "", "-1", "-0", "+5", " 5", "1.5", "0x00CA", "000203", "99999999999"})
        EXPECT_TRUE(std::holds_alternative<refusal>(pwm_duty(body))) << body;
    EXPECT_EQ(frequency_value("65535"), (std::variant<int, refusal>(65535)));
    EXPECT_EQ(std::get<refusal>(frequency_value("65536")),
              (refusal{400, "the frequency value is a whole number from 0 to 65535, not '65536'"}));
}

TEST(changes, a_line_is_one_of_the_board_lines_switched_with_1_or_0)
{
    const auto switched = [](std::string_view line, std::string_view body) {
        const auto asked = switch_line(line, body);
        const auto *change = std::get_if<line_change>(&asked);
        return change ? std::optional(std::pair(change->line, change->on)) : std::nullopt;
    };
    EXPECT_EQ(switched("3", "1"), std::pair(3, true));
    EXPECT_EQ(switched("7", "0"), std::pair(7, false));
    EXPECT_EQ(std::get<refusal>(switch_line("8", "1")),
              (refusal{404, "the board has no line '8': its lines are 0 to 7"}));
    EXPECT_EQ(std::get<refusal>(switch_line("x", "1")).status, 404);
    EXPECT_EQ(std::get<refusal>(switch_line("03", "1")).status, 404);
    EXPECT_EQ(std::get<refusal>(switch_line("2", "2")),
              (refusal{400, "a line is switched with 1 (on) or 0 (off), not '2'"}));
    EXPECT_EQ(std::get<refusal>(switch_line("2", "on")).status, 400);
}

TEST(changes, the_live_stream_takes_up_to_ten_minutes_of_history)
{
    EXPECT_EQ(events_history("/events/0"), (std::variant<int, refusal>(0)));
    EXPECT_EQ(events_history("/events/600"), (std::variant<int, refusal>(600)));
    const refusal beyond{400,
                         "the live stream takes the seconds of history to send first, 0 to 600: /events/30"};
    for (const char *path : {"/events/601", "/events/abc", "/events/", "/events/-1", "/events/030"})
        EXPECT_EQ(events_history(path), (std::variant<int, refusal>(beyond))) << path;
    EXPECT_TRUE(is_events({"GET", "/events/30", "", "", ""}));
    EXPECT_FALSE(is_events({"POST", "/events/30", "", "", ""}));
}

TEST(changes, a_request_names_its_board_by_number_the_first_by_default)
{
    EXPECT_EQ(board_of_target("/pwm", 2), 0U);
    EXPECT_EQ(board_of_target("/?token=00ff", 2), 0U);
    EXPECT_EQ(board_of_target("/events/30?board=1", 2), 1U);
    for (const char *target : {"/pwm?board=2", "/pwm?board=", "/pwm?board=-1", "/pwm?board=1x"})
        EXPECT_EQ(board_of_target(target, 2), std::nullopt) << target;
}

} // namespace
