// The follower's state machine fed observations on a made-up clock, and the
// device checks it relies on against a pseudo-terminal.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "device_watch.h"
#include "follow_machine.h"

namespace {

using namespace std::chrono_literals;
using namespace vostrelle::host;
using enum observation;

struct made_up_clock {
    moment at{std::chrono::steady_clock::time_point{} + 1h, std::chrono::system_clock::time_point{} + 1h};
    moment after(std::chrono::milliseconds elapsed)
    {
        at.steady += elapsed;
        at.wall += elapsed;
        return at;
    }
};

TEST(follow_machine, an_unplugged_board_is_waited_for_cheaply_then_loaded_again_and_the_gap_kept)
{
    made_up_clock clock;
    follow_machine machine(board_state::answering, clock.at);
    machine.observe(answered, clock.after(40ms));
    const moment lost_at = clock.after(40ms);
    const auto change = machine.observe(lost, lost_at);
    ASSERT_TRUE(change);
    EXPECT_EQ(change->to, board_state::gone);
    EXPECT_EQ(machine.next().what, action::look);
    machine.observe(absent, clock.after(1ms));
    EXPECT_EQ(machine.next().what, action::look);
    EXPECT_EQ(machine.next().not_before, clock.at.steady + follow_machine::look_every);
    machine.observe(present, clock.after(100ms));
    EXPECT_EQ(machine.state(), board_state::loading);
    EXPECT_EQ(machine.next().what, action::reload);
    const moment back_at = clock.after(2000ms);
    machine.observe(loaded, back_at);
    EXPECT_EQ(machine.state(), board_state::answering);
    EXPECT_EQ(machine.next().what, action::scan);
    ASSERT_EQ(machine.gaps().size(), 1U);
    EXPECT_EQ(machine.gaps()[0].cause, board_state::gone);
    EXPECT_EQ(machine.gaps()[0].start.wall, lost_at.wall);
    EXPECT_EQ(machine.gaps()[0].end->wall, back_at.wall);
    EXPECT_EQ(machine.reloads(), 1);
}

TEST(follow_machine, a_board_that_never_comes_back_keeps_an_open_gap_and_a_failed_load_waits_longer)
{
    made_up_clock clock;
    follow_machine machine(board_state::gone, clock.at); // not there at the start
    ASSERT_EQ(machine.gaps().size(), 1U);
    EXPECT_FALSE(machine.gaps()[0].end);
    machine.observe(present, clock.after(100ms));
    machine.observe(load_failed, clock.after(2000ms));
    EXPECT_EQ(machine.state(), board_state::gone);
    EXPECT_EQ(machine.next().not_before, clock.at.steady + follow_machine::look_after_failed_load);
    EXPECT_EQ(machine.reloads(), 0);
    EXPECT_FALSE(machine.gaps()[0].end);
}

TEST(follow_machine, three_unanswered_scans_in_a_row_make_a_silent_board_checked_once_a_second)
{
    made_up_clock clock;
    follow_machine machine(board_state::answering, clock.at);
    machine.observe(unanswered, clock.after(40ms));
    machine.observe(unanswered, clock.after(40ms));
    machine.observe(answered, clock.after(40ms)); // a row broken: counted again from none
    const moment first = clock.after(40ms);
    machine.observe(unanswered, first);
    EXPECT_FALSE(machine.observe(unanswered, clock.after(40ms)));
    EXPECT_EQ(machine.next().what, action::scan);
    const auto change = machine.observe(unanswered, clock.after(40ms));
    ASSERT_TRUE(change);
    EXPECT_EQ(change->to, board_state::silent);
    EXPECT_EQ(machine.since().wall, first.wall); // silent since the first of the row
    EXPECT_EQ(machine.next().what, action::check);
    EXPECT_EQ(machine.next().not_before, clock.at.steady + follow_machine::check_every);
    machine.observe(unanswered, clock.after(1000ms));
    EXPECT_EQ(machine.next().not_before, clock.at.steady + follow_machine::check_every);
    machine.observe(answered, clock.after(1000ms));
    EXPECT_EQ(machine.state(), board_state::answering);
    ASSERT_EQ(machine.gaps().size(), 1U);
    EXPECT_EQ(machine.gaps()[0].cause, board_state::silent);
    EXPECT_EQ(machine.gaps()[0].start.wall, first.wall);
    EXPECT_TRUE(machine.gaps()[0].end);
    EXPECT_EQ(machine.reloads(), 0);
}

TEST(device_watch, a_link_leads_to_its_device_whose_port_hangs_up_when_the_other_end_goes)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::array<char, 64> name{};
    ASSERT_EQ(ptsname_r(master, name.data(), name.size()), 0);
    const std::string terminal = name.data();
    const std::string link = testing::TempDir() + "follow-link-" + std::to_string(getpid());
    ASSERT_EQ(symlink(terminal.c_str(), link.c_str()), 0);
    const int port = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(port, 0);
    const auto identity = identity_of(link);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity, identity_of(terminal));
    EXPECT_NE(identity, identity_of("/dev/null"));
    EXPECT_EQ(descriptors_on(*identity), std::vector<int>{port});
    EXPECT_FALSE(hung_up({port}));
    close(master);
    EXPECT_TRUE(hung_up({port}));
    close(port);
    unlink(link.c_str());
    EXPECT_FALSE(identity_of(link));
}

} // namespace
