// Whatever "/dev/ttyACM0" turns out to be, or becomes, the driver loads,
// answers every call within its deadlines and leaves the host's own
// descriptors alone.
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "board_fixture.h"

namespace {

using namespace vostrelle;
using test::milliseconds_taken;

constexpr double call_bound_ms = 100.0;

// Every kind of entry point once, each within its bound.
void exercise(const test::entry_points &api)
{
    EXPECT_LT(milliseconds_taken([&] { api.ea(0); }), call_bound_ms);
    EXPECT_LT(milliseconds_taken([&] { api.ead(7); }), call_bound_ms);
    EXPECT_LT(milliseconds_taken([&] { EXPECT_EQ(api.sa(1, 1000), 500); }), call_bound_ms);
    EXPECT_LT(milliseconds_taken([&] { EXPECT_EQ(api.sb(3, 1), 1); }), call_bound_ms);
    EXPECT_EQ(api.rsb(3), 1);
    EXPECT_STREQ(api.nea(0), "EA0(PA0)0..1023");
}

class device_faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vostrelle-faults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch = pattern;
        ASSERT_EQ(pipe(host_pipe), 0);
        test::skip_start_up_delay(true);
    }
    void TearDown() override
    {
        close(host_pipe[0]);
        close(host_pipe[1]);
        redirect::lead_board_to("");
        std::system(("rm -rf " + scratch).c_str());
    }

    // Loads the driver on `device`, uses it, unloads it; the host's pipe
    // works throughout and no descriptor is left behind.
    void load_use_unload(const std::string &device)
    {
        SCOPED_TRACE(device);
        redirect::lead_board_to(device);
        const int before = test::open_descriptor_count();
        test::loaded_driver driver;
        driver.load();
        exercise(driver.api());
        driver.unload();
        EXPECT_EQ(test::open_descriptor_count(), before);
        EXPECT_EQ(write(host_pipe[1], "x", 1), 1);
        char byte = 0;
        EXPECT_EQ(read(host_pipe[0], &byte, 1), 1);
        EXPECT_EQ(byte, 'x');
    }

    std::string scratch;
    int host_pipe[2] = {-1, -1};
};

TEST_F(device_faults, every_kind_of_path_loads_and_answers_within_bounds)
{
    const std::string file = scratch + "/regular", directory = scratch + "/directory",
                      fifo = scratch + "/fifo", socket_path = scratch + "/socket", loop = scratch + "/loop";
    std::system(("printf 'stale bytes' > " + file).c_str());
    mkdir(directory.c_str(), 0755);
    mkfifo(fifo.c_str(), 0600);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    symlink(loop.c_str(), loop.c_str());
    for (const auto &device : {file, directory, fifo, socket_path, loop, scratch + "/missing"})
        load_use_unload(device);
    close(listener);
}

TEST_F(device_faults, a_fifo_that_nobody_reads_fills_up_and_writes_become_zero)
{
    const std::string fifo = scratch + "/fifo";
    mkfifo(fifo.c_str(), 0600);
    redirect::lead_board_to(fifo);
    test::loaded_driver driver;
    driver.load();
    // 64 KiB fill the pipe; every later command is refused at once.
    const double ms = milliseconds_taken([&] {
        for (int i = 0; i < 30000; ++i)
            driver.api().sa(1, i);
    });
    EXPECT_LT(ms, 30000 * 1.0);
    EXPECT_LT(milliseconds_taken([&] { driver.api().sb(0, 1); }), call_bound_ms);
    driver.unload();
}

class live_faults : public test::driver_on_board {};

TEST_F(live_faults, an_unplugged_board_is_not_reconnected_and_calls_stay_bounded)
{
    board.set_input(0, 400);
    ASSERT_EQ(api().ea(0), 400);
    race_the_clock();
    board.hang_up();
    sim::simulated_board replugged;
    replugged.set_input(0, 900);
    const int replugged_own = test::descriptors_open_on(replugged.device_path());
    redirect::lead_board_to(replugged.device_path());
    for (int round = 0; round < 5; ++round)
        exercise(api());
    EXPECT_EQ(test::descriptors_open_on(replugged.device_path()), replugged_own)
        << "the driver reconnected by itself";
}

TEST_F(live_faults, a_board_that_resets_goes_silent_then_answers_again)
{
    board.set_input(2, 123);
    ASSERT_EQ(api().ea(2), 123);
    board.set_mode(sim::fault_mode::silent);
    board.set_input(2, 456);
    for (int round = 0; round < 100; ++round)
        ASSERT_EQ(api().ea(2), 123) << "round " << round;
    board.set_mode(sim::fault_mode::healthy);
    EXPECT_EQ(api().ea(2), 456) << "the first conversion after the reset";
}

TEST_F(live_faults, a_board_that_stops_reading_never_blocks_a_command)
{
    race_the_clock();
    board.set_reading(false);
    const double ms = milliseconds_taken([&] {
        for (int i = 0; i < 20000; ++i)
            api().sa(0, i);
    });
    EXPECT_LT(ms, 20000 * 1.0);
    EXPECT_LT(milliseconds_taken([&] { api().ea(0); }), call_bound_ms);
    board.set_reading(true);
}

} // namespace
