#include <climits>

#include "board_fixture.h"

namespace {

using namespace vostrelle;
using test::bytes;
using test::milliseconds_taken;

class inputs : public test::driver_on_board {};

TEST_F(inputs, each_conversion_writes_its_one_letter_and_reads_two_bytes)
{
    const std::string letters = "IJKLMNOP";
    for (int channel = 0; channel < 8; ++channel) {
        board.set_input(channel, static_cast<std::uint16_t>(100 * channel + 7));
        const int count = 100 * channel + 7;
        EXPECT_EQ(api().ea(channel), count);
        EXPECT_EQ(written(), bytes{static_cast<std::uint8_t>(letters[channel])})
            << "one letter, nothing else";
    }
}

TEST_F(inputs, counts_and_volts_from_the_reply_bytes)
{
    struct reply_case {
        std::uint16_t count;
        double volts;
    };
    const reply_case cases[] = {
        {1023, 5.0}, {512, 2.5024437927663734}, {256, 256 * 5.0 / 1023}, {255, 255 * 5.0 / 1023}, {0, 0.0}};
    for (const auto &c : cases) {
        board.set_input(3, c.count);
        EXPECT_EQ(api().ea(3), c.count);
        EXPECT_EQ(api().ead(3), c.volts) << c.count;
    }
}

TEST_F(inputs, volts_follow_the_double_formula_for_every_count)
{
    for (int count = 0; count < 1024; ++count) {
        board.set_input(5, static_cast<std::uint16_t>(count));
        const double expected = ((count / 256) * 256.0 + (count % 256) + 0.0) * 5.0 / 1023.0;
        ASSERT_EQ(api().ead(5), expected) << count;
    }
}

TEST_F(inputs, stale_bytes_are_drained_before_each_conversion)
{
    board.set_input(2, 700);
    for (int round = 0; round < 2; ++round) {
        board.send_unasked({0x01, 0x02, 0x03});
        settle();
        EXPECT_EQ(api().ea(2), 700);
        EXPECT_EQ(written(), bytes{'K'}) << "the conversion letter, never a stale byte sent back";
    }
}

TEST_F(inputs, channels_outside_zero_to_seven_send_nothing_and_return_the_reply_bytes)
{
    api().sa(5, 0x0102);
    for (const int channel : {8, -1, INT_MIN, INT_MAX}) {
        EXPECT_EQ(api().ea(channel), 0x0102) << channel;
        EXPECT_EQ(api().ead(channel), 258 * 5.0 / 1023) << channel;
    }
    EXPECT_EQ(written(), bytes{});
}

TEST_F(inputs, binary_inputs_answer_minus_777_at_once_with_no_traffic)
{
    test::record_sleeps_from_now();
    for (const int channel : {0, 5, -3, 8, INT_MIN, INT_MAX})
        EXPECT_EQ(api().eb(channel), -777);
    EXPECT_TRUE(test::requested_sleeps().empty()) << "eb waited";
    EXPECT_EQ(written(), bytes{});
}

class inputs_without_board : public test::driver_without_board {};

TEST_F(inputs_without_board, read_zero_after_waiting_out_both_deadlines)
{
    EXPECT_GE(milliseconds_taken([&] { EXPECT_EQ(api().ea(0), 0); }), 3.0);
    EXPECT_GE(milliseconds_taken([&] { EXPECT_EQ(api().ead(0), 0.0); }), 6.0);
}

TEST_F(inputs_without_board, return_what_the_last_output_left_in_the_reply_bytes)
{
    EXPECT_EQ(api().sa(1, 1000), 500);
    EXPECT_EQ(api().ea(0), 1000);
    EXPECT_EQ(api().ead(0), 1000 * 5.0 / 1023);
}

} // namespace
