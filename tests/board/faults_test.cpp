// A board that misbehaves costs the host a bounded wait, never a crash or a
// hang, and readings keep to the shared reply-byte rules.
#include <climits>

#include "board_fixture.h"

namespace {

using namespace vostrelle;
using test::bytes;
using test::milliseconds_taken;

class faults : public test::driver_on_board {
protected:
    // Leaves reply_high = high and reply_low = low in the driver.
    void preset_reply_bytes(int high, int low) { api().sa(-1, high * 256 + low); }
};

TEST_F(faults, a_board_answering_one_byte_updates_the_high_byte_only)
{
    board.set_mode(sim::fault_mode::one_byte);
    board.set_input(0, 0x0300);
    preset_reply_bytes(1, 77);
    EXPECT_EQ(api().ea(0), 3 * 256 + 77);
}

TEST_F(faults, garbage_replies_read_as_their_first_two_bytes_and_the_rest_is_drained)
{
    std::vector<bytes> replies;
    board.on_exchange([&](const sim::exchange &e) {
        if (!e.from_driver)
            replies.push_back(e.bytes);
    });
    board.set_mode(sim::fault_mode::garbage);
    for (int round = 0; round < 50; ++round) {
        const int count = api().ea(round % 8);
        ASSERT_EQ(replies.size(), static_cast<std::size_t>(round + 1));
        const bytes &reply = replies.back();
        ASSERT_GE(reply.size(), 2u);
        EXPECT_EQ(count, reply[0] * 256 + reply[1]) << "round " << round;
    }
    board.set_mode(sim::fault_mode::healthy);
    board.set_input(6, 321);
    EXPECT_EQ(api().ea(6), 321);
}

TEST_F(faults, a_board_hanging_up_mid_run_leaves_every_call_bounded)
{
    board.set_input(0, 600);
    ASSERT_EQ(api().ea(0), 600);
    race_the_clock();
    board.hang_up();
    constexpr double generous_ms = 100.0;
    EXPECT_LT(milliseconds_taken([&] { EXPECT_EQ(api().ea(0), 600); }), generous_ms);
    for (int round = 0; round < 3; ++round) {
        EXPECT_LT(milliseconds_taken([&] { EXPECT_EQ(api().sa(1, 1000 + round), 500 + round / 2); }),
                  generous_ms);
        EXPECT_LT(milliseconds_taken([&] { EXPECT_EQ(api().ead(0), (1000 + round) * 5.0 / 1023); }),
                  generous_ms);
        EXPECT_EQ(api().sb(3, 1), 1);
        EXPECT_STREQ(api().nea(0), "EA0(PA0)0..1023");
    }
}

// These race the real clock on purpose: the deadlines are exact lower bounds,
// and the upper bounds leave room for a busy machine and an emulator.
class racing_faults : public faults {
protected:
    void SetUp() override
    {
        faults::SetUp();
        race_the_clock();
    }
    static constexpr double generous_ms = 200.0;
};

TEST_F(racing_faults, a_silent_board_costs_both_deadlines_and_keeps_the_reply_bytes)
{
    board.set_mode(sim::fault_mode::silent);
    preset_reply_bytes(2, 9);
    for (int round = 0; round < 5; ++round) {
        const double ea_ms = milliseconds_taken([&] { EXPECT_EQ(api().ea(1), 2 * 256 + 9); });
        const double ead_ms =
            milliseconds_taken([&] { EXPECT_EQ(api().ead(1), (2 * 256 + 9) * 5.0 / 1023); });
        EXPECT_GE(ea_ms, 3.0);
        EXPECT_LT(ea_ms, generous_ms);
        EXPECT_GE(ead_ms, 6.0);
        EXPECT_LT(ead_ms, generous_ms);
    }
    EXPECT_EQ(written(), bytes(10, 'J'));
}

TEST_F(racing_faults, a_high_byte_after_the_first_deadline_lands_in_the_low_byte)
{
    // The reply comes 5.5 ms after the command: after the first wait of
    // `ead` (2 ms settle, then more than 2 ms), before the second ends.
    board.set_mode(sim::fault_mode::late);
    board.set_input(4, 0x02AB);
    bool seen = false;
    for (int attempt = 0; attempt < 10 && !seen; ++attempt) {
        preset_reply_bytes(1, 5);
        const std::uint64_t sent = board.bytes_sent();
        const double volts = api().ead(4);
        seen = volts == (1 * 256 + 2) * 5.0 / 1023;
        // The queued low byte is discarded by the next conversion's drain.
        wait_until_board_sent(sent + 2);
        settle();
        board.set_mode(sim::fault_mode::silent);
        preset_reply_bytes(0, 0);
        EXPECT_EQ(api().ea(4), 0) << "a late byte survived the drain";
        board.set_mode(sim::fault_mode::late);
    }
    EXPECT_TRUE(seen) << "the late high byte never landed in reply_low";
}

TEST_F(racing_faults, a_flooding_board_cannot_hold_the_host)
{
    board.set_mode(sim::fault_mode::flood);
    wait_until_board_sent(4096);
    for (int round = 0; round < 5; ++round) {
        EXPECT_LT(milliseconds_taken([&] { api().ea(0); }), 2000.0);
        EXPECT_LT(milliseconds_taken([&] { api().ead(0); }), 2000.0);
    }
}

} // namespace
