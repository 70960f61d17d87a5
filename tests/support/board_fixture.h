// A loaded driver whose "/dev/ttyACM0" leads to a simulated board, or to
// nothing at all.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <sched.h>
#include <sys/ioctl.h>
#include <vector>

#include "device_redirect.h"
#include "driver.h"
#include "simulated_board.h"

namespace vostrelle::test {

using bytes = std::vector<std::uint8_t>;

// Milliseconds that `action` took, on a clock that never steps.
template <typename Action> double milliseconds_taken(Action action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// A limit on a wait, kept on a clock that the virtual clock leaves alone:
// under it, each reading of steady_clock in the driver's thread moves time on
// by a whole millisecond, so five seconds would pass in a few thousand polls.
class real_time_limit {
public:
    explicit real_time_limit(std::chrono::milliseconds span) : end_(now() + span) {}
    bool passed() const { return now() >= end_; }

private:
    static std::chrono::nanoseconds now()
    {
        timespec t{};
        clock_gettime(CLOCK_BOOTTIME, &t);
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    }
    std::chrono::nanoseconds end_;
};

// The driver on a simulated board. Exchanges are exact by default: when the
// driver starts its settle sleep after a command, the test waits until the
// board has taken every byte written and its answer is waiting on the
// driver's side of the line, so a healthy board's reply is always there
// when the driver looks, however busy the machine; the clock is virtual, so
// deadlines cost no time. Tests of what happens when replies come late or
// never use the real clock and no waiting: race_the_clock().
class driver_on_board : public ::testing::Test {
protected:
    void SetUp() override
    {
        redirect::lead_board_to(board.device_path());
        skip_start_up_delay(true);
        driver.load();
        reset_board_traffic();
        on_settle_sleep([this] { settle(); });
        clock.emplace();
    }
    void TearDown() override
    {
        race_the_clock();
        if (driver.loaded())
            driver.unload();
        redirect::lead_board_to("");
    }

    const entry_points &api() const { return driver.api(); }

    // Exact exchanges with real sleeps and deadlines.
    void use_real_clock() { clock.reset(); }
    // Real sleeps and deadlines, and replies come when they come.
    void race_the_clock()
    {
        on_settle_sleep({});
        use_real_clock();
    }

    // What the driver wrote since the last call, once the board has taken it.
    bytes written()
    {
        EXPECT_TRUE(board.wait_until_served(traffic_on_board().written, exchange_limit))
            << "the simulated board did not take what the driver wrote";
        return board.take_received();
    }

    // Waits until the board has sent `count` bytes in all since it started.
    void wait_until_board_sent(std::uint64_t count)
    {
        const real_time_limit limit(exchange_limit);
        while (board.bytes_sent() < count) {
            ASSERT_FALSE(limit.passed()) << "the board never sent its bytes";
            sched_yield();
        }
    }

    // Waits until the board has taken everything the driver wrote and all it
    // sent is waiting on the driver's side of the line.
    void settle()
    {
        const board_traffic traffic = traffic_on_board();
        ASSERT_TRUE(board.wait_until_served(traffic.written, exchange_limit))
            << "the simulated board did not take the command";
        const std::uint64_t unread = std::min(board.bytes_sent() - traffic.read, line_capacity);
        const real_time_limit limit(exchange_limit);
        while (waiting_for_driver() < unread) {
            ASSERT_FALSE(limit.passed()) << "the board's answer did not reach the driver";
            sched_yield();
        }
    }

    sim::simulated_board board;
    loaded_driver driver;

private:
    static constexpr std::chrono::milliseconds exchange_limit{5000};
    // What a pseudo-terminal holds before a writer must wait.
    static constexpr std::uint64_t line_capacity = 4095;

    std::optional<virtual_clock> clock;

    std::uint64_t waiting_for_driver() const
    {
        int count = 0;
        ioctl(redirect::board_descriptor(), FIONREAD, &count);
        return count > 0 ? static_cast<std::uint64_t>(count) : 0;
    }
};

class driver_without_board : public ::testing::Test {
protected:
    void SetUp() override
    {
        redirect::lead_board_to("/nonexistent/vostrelle-board");
        skip_start_up_delay(true);
        driver.load();
    }
    void TearDown() override
    {
        if (driver.loaded())
            driver.unload();
        redirect::lead_board_to("");
    }
    const entry_points &api() const { return driver.api(); }

    loaded_driver driver;
};

} // namespace vostrelle::test
