// Long runs on a virtual clock: resident memory and descriptors stay flat,
// every reading is exact, and load/unload cycles leave nothing behind. The
// same runs on the real clock: scripts/soak.sh.
#include <climits>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "board_fixture.h"

namespace {

using namespace vostrelle;

// VOSTRELLE_SOAK_SCALE multiplies the counts (scripts/soak.sh sets it).
int scaled(int count)
{
    const char *scale = std::getenv("VOSTRELLE_SOAK_SCALE");
    return count * (scale ? std::max(1, std::atoi(scale)) : 1);
}

const int name_calls = scaled(1000000);
const int conversions = scaled(100000);
constexpr int load_cycles = 50;
// Allocator and page-cache noise of the test itself; under an emulator the
// emulator's own code cache grows with every load, so memory goes unchecked.
constexpr long slack_kib = VOSTRELLE_UNDER_EMULATOR ? LONG_MAX : 512;

long resident_kib()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class soak : public test::driver_on_board {
protected:
    void SetUp() override
    {
        driver_on_board::SetUp();
        if (std::getenv("VOSTRELLE_SOAK_REAL_CLOCK"))
            use_real_clock();
    }

    // Runs `work` in ten rounds and returns the resident memory growth in
    // KiB after the first, which brings every page into use.
    template <typename Work> long growth_kib(int total, Work work)
    {
        board.set_recording(false);
        const int round = total / 10;
        work(round);
        const long before = resident_kib();
        const int descriptors = test::open_descriptor_count();
        for (int done = round; done < total; done += round)
            work(round);
        EXPECT_EQ(test::open_descriptor_count(), descriptors);
        const long growth = resident_kib() - before;
        std::printf("resident %ld KiB -> %ld KiB\n", before, before + growth);
        return growth;
    }
};

TEST_F(soak, a_million_name_calls_use_no_memory_and_stay_exact)
{
    const long growth = growth_kib(name_calls, [&](int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_STREQ(api().nsb(i % 8 == 0 ? 0 : 9), i % 8 == 0 ? "SB0=PB0(LED)" : "");
    });
    EXPECT_LE(growth, slack_kib);
}

TEST_F(soak, a_hundred_thousand_conversions_on_a_healthy_board_are_all_exact)
{
    // Distinct inputs, channels in turn: a reply one conversion behind, or
    // one byte out of step, reads as another channel's value.
    for (int channel = 0; channel < 8; ++channel)
        board.set_input(channel, static_cast<std::uint16_t>(0x0101 * channel + 0x10 + channel));
    const long growth = growth_kib(conversions, [&](int n) {
        for (int i = 0; i < n; ++i) {
            const int channel = i % 8;
            ASSERT_EQ(api().ea(channel), 0x0101 * channel + 0x10 + channel) << "conversion " << i;
        }
    });
    EXPECT_LE(growth, slack_kib);
}

TEST_F(soak, a_hundred_thousand_conversions_on_a_silent_board)
{
    board.set_mode(sim::fault_mode::silent);
    api().sa(-1, 0x0155);
    const long growth = growth_kib(conversions, [&](int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(api().ea(i % 8), 0x0155);
    });
    EXPECT_LE(growth, slack_kib);
}

TEST(load_cycles, fifty_loads_reopen_the_board_and_leave_nothing_behind)
{
    sim::simulated_board board;
    redirect::lead_board_to(board.device_path());
    test::skip_start_up_delay(true);
    const int simulator_fds = test::descriptors_open_on(board.device_path());
    test::loaded_driver driver;
    driver.load();
    driver.unload();
    const long before = resident_kib();
    const int descriptors = test::open_descriptor_count();
    for (int cycle = 0; cycle < load_cycles; ++cycle) {
        driver.load();
        ASSERT_EQ(test::descriptors_open_on(board.device_path()), simulator_fds + 1) << "cycle " << cycle;
        EXPECT_STREQ(driver.api().titre(), "Vostrelle");
        driver.unload();
    }
    EXPECT_EQ(test::open_descriptor_count(), descriptors);
    EXPECT_LE(resident_kib() - before, slack_kib);
    std::printf("%d cycles: resident %ld KiB -> %ld KiB, descriptors %d -> %d\n", load_cycles, before,
                resident_kib(), descriptors, test::open_descriptor_count());
    redirect::lead_board_to("");
}

} // namespace
