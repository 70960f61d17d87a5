#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "board_fixture.h"

namespace {

using namespace vostrelle;
using test::milliseconds_taken;

// The descriptor on `path` that is not among `before`, or -1.
int new_descriptor_on(const std::string &path, const std::vector<int> &before)
{
    for (const int fd : test::descriptors_on(path))
        if (std::find(before.begin(), before.end(), fd) == before.end())
            return fd;
    return -1;
}

class lifecycle : public ::testing::Test {
protected:
    void SetUp() override { test::skip_start_up_delay(false); }
    void TearDown() override { redirect::lead_board_to(""); }
    test::loaded_driver driver;
};

TEST_F(lifecycle, load_opens_the_board_configures_it_and_waits_two_seconds)
{
    sim::simulated_board board;
    redirect::lead_board_to(board.device_path());
    const std::vector<int> simulator_fds = test::descriptors_on(board.device_path());
    test::record_sleeps_from_now();

    EXPECT_GE(milliseconds_taken([&] { driver.load(); }), 2000.0);
    const auto sleeps = test::requested_sleeps();
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0].tv_sec, 2);

    const int fd = new_descriptor_on(board.device_path(), simulator_fds);
    ASSERT_GE(fd, 0) << "the board was not opened";
    termios applied{};
    ASSERT_EQ(tcgetattr(fd, &applied), 0);
    EXPECT_EQ(applied.c_cflag, tcflag_t(B38400 | CS8 | CREAD | CLOCAL));
    EXPECT_EQ(applied.c_iflag, tcflag_t(IGNPAR));
    const int flags = fcntl(fd, F_GETFL);
    EXPECT_TRUE(flags & O_NONBLOCK);
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "child processes must not inherit the board";
    EXPECT_EQ(board.take_received(), test::bytes{}) << "nothing is sent at load";

    driver.unload();
    EXPECT_EQ(test::descriptors_on(board.device_path()), simulator_fds) << "unload leaves the board open";

    // The one real wait of this suite; later loads are proven by the sleep
    // they ask for.
    test::skip_start_up_delay(true);
    test::record_sleeps_from_now();
    driver.load();
    EXPECT_EQ(test::requested_sleeps().size(), 1u) << "a second load waits again";
    EXPECT_GE(new_descriptor_on(board.device_path(), simulator_fds), 0) << "a second load reopens";
    driver.unload();
}

TEST_F(lifecycle, vostrelle_device_names_another_board_and_an_empty_one_names_none)
{
    sim::simulated_board named, default_board;
    redirect::lead_board_to(default_board.device_path()); // where "/dev/ttyACM0" leads
    test::skip_start_up_delay(true);
    const int named_own = test::descriptors_open_on(named.device_path());
    const int default_own = test::descriptors_open_on(default_board.device_path());

    setenv("VOSTRELLE_DEVICE", named.device_path().c_str(), 1);
    driver.load();
    EXPECT_EQ(test::descriptors_open_on(named.device_path()), named_own + 1);
    EXPECT_EQ(test::descriptors_open_on(default_board.device_path()), default_own);
    driver.unload();

    setenv("VOSTRELLE_DEVICE", "", 1);
    driver.load();
    EXPECT_EQ(test::descriptors_open_on(named.device_path()), named_own);
    EXPECT_EQ(test::descriptors_open_on(default_board.device_path()), default_own + 1);
    driver.unload();
    unsetenv("VOSTRELLE_DEVICE");
}

TEST_F(lifecycle, load_without_a_device_still_waits_and_every_entry_point_works)
{
    redirect::lead_board_to("/nonexistent/vostrelle-board");
    test::skip_start_up_delay(true);
    test::record_sleeps_from_now();
    driver.load();
    const auto sleeps = test::requested_sleeps();
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0].tv_sec, 2);
    EXPECT_EQ(sleeps[0].tv_nsec, 0);
    const auto &api = driver.api();
    EXPECT_STREQ(api.titre(), "Vostrelle");
    EXPECT_EQ(api.ea(0), 0);
    EXPECT_EQ(api.ead(0), 0.0);
    for (int channel = 0; channel <= 8; ++channel)
        EXPECT_EQ(api.rsb(channel), 0) << channel;
    driver.unload();
}

} // namespace
