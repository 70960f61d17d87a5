#include <climits>

#include "board_fixture.h"

namespace {

using namespace vostrelle;
using test::bytes;

class outputs : public test::driver_on_board {};

TEST_F(outputs, analog_outputs_write_their_commands_and_return_half_the_value)
{
    struct output_case {
        int channel, value;
        bytes sent;
        int result;
    };
    const output_case cases[] = {
        {0, 0, {'q', 0x00}, 0},
        {0, 255, {'q', 0xFF}, 127},
        {0, 300, {'q', 44}, 150},
        {0, -7, {'q', 0xF9}, -3},
        {1, 1000, {'Z', 0x03, 0xE8}, 500},
        {1, 100, {'Z', 0x00, 0x64}, 50},
        {1, 256, {'Z', 0x01, 0x00}, 128},
        {1, 70000, {'Z', 0x11, 0x70}, 35000},
        {2, 1, {'R'}, 0},
        {2, 0, {'r'}, 0},
        {2, -5, {'r'}, -2},
        {5, 123, {}, 61},
        {-1, 9, {}, 4},
        {INT_MIN, INT_MIN, {}, INT_MIN / 2},
        {INT_MAX, INT_MAX, {}, INT_MAX / 2},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(api().sa(c.channel, c.value), c.result) << c.channel << "," << c.value;
        EXPECT_EQ(written(), c.sent) << c.channel << "," << c.value;
    }
}

TEST_F(outputs, every_analog_output_leaves_its_value_in_the_reply_bytes)
{
    board.set_mode(sim::fault_mode::silent);
    api().sa(1, 1000);
    EXPECT_EQ(api().ea(0), 1000) << "reply bytes 3 and 232";
    api().sa(5, 123);
    EXPECT_EQ(api().ea(0), 123) << "reply bytes 0 and 123";
    api().sa(0, -7);
    EXPECT_EQ(api().ea(0), 249) << "-7 / 256 = 0, -7 % 256 = -7, kept as 8-bit bytes";
}

TEST_F(outputs, sad_rounds_the_value_and_returns_the_result_of_sa)
{
    EXPECT_EQ(api().sad(0, 99.5), 50.0);
    EXPECT_EQ(written(), (bytes{'q', 100}));
    EXPECT_EQ(api().sad(1, 0.4999999999), 0.0);
    EXPECT_EQ(written(), (bytes{'Z', 0, 1}));
}

TEST_F(outputs, digital_lines_write_their_letter_and_are_read_back)
{
    struct line_case {
        int channel, value;
        bytes sent;
        int readback;
    };
    const line_case cases[] = {
        {3, 5, {'U'}, 5}, {3, -1, {'u'}, -1}, {0, 70000, {'R'}, 4464}, {0, 40000, {'R'}, -25536},
        {7, 0, {'y'}, 0}, {1, 1, {'S'}, 1},   {8, 1, {}, 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(api().sb(c.channel, c.value), c.value);
        EXPECT_EQ(written(), c.sent) << c.channel << "," << c.value;
        EXPECT_EQ(api().rsb(c.channel), c.readback) << c.channel << "," << c.value;
    }
}

TEST_F(outputs, channels_outside_the_readback_table_store_and_send_nothing)
{
    for (const int channel : {-1, 9, INT_MIN, INT_MAX}) {
        EXPECT_EQ(api().sb(channel, 77), 77);
        EXPECT_EQ(api().rsb(channel), 0);
    }
    EXPECT_EQ(written(), bytes{});
    for (int channel = 0; channel <= 8; ++channel)
        EXPECT_EQ(api().rsb(channel), 0) << "entry " << channel << " was touched";
}

TEST_F(outputs, the_led_output_of_sa_is_not_read_back_and_analog_outputs_read_zero)
{
    api().sa(2, 1);
    EXPECT_EQ(api().rsb(0), 0);
    for (const int channel : {0, 1, 2, 3, -1, INT_MIN}) {
        api().sa(channel, 99);
        EXPECT_EQ(api().rsa(channel), 0);
        EXPECT_EQ(api().rsad(channel), 0.0);
    }
}

TEST_F(outputs, the_board_sees_what_was_set)
{
    api().sa(0, 128);
    api().sa(1, 2000);
    api().sb(0, 1);
    api().sb(6, 1);
    api().sb(0, 0);
    written();
    const sim::board_outputs seen = board.outputs();
    EXPECT_EQ(seen.pwm_duty, 128);
    EXPECT_EQ(seen.frequency, 2000);
    EXPECT_EQ(seen.lines, 1u << 6);
}

} // namespace
