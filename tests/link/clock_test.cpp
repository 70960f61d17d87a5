#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/time.h>

#include "driver.h"
#include "link/clock.h"

namespace {

using vostrelle::link::delay_milliseconds;
using vostrelle::link::elapsed_milliseconds;

double milliseconds_of_delay(std::int32_t ms)
{
    const auto start = std::chrono::steady_clock::now();
    delay_milliseconds(ms);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

TEST(clock, first_value_is_the_milliseconds_already_past_in_the_second)
{
    const std::int64_t first = elapsed_milliseconds();
    EXPECT_GE(first, 0);
    EXPECT_LE(first, 999);
}

TEST(clock, counts_milliseconds_alongside_a_steady_clock)
{
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t before = elapsed_milliseconds();
    delay_milliseconds(50);
    const std::int64_t after = elapsed_milliseconds();
    const double around =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(after - before, 49);
    EXPECT_LE(static_cast<double>(after - before), around + 1.0);
}

TEST(delay, asks_for_whole_seconds_and_nanoseconds_in_one_sleep)
{
    vostrelle::test::record_sleeps_from_now();
    EXPECT_GE(milliseconds_of_delay(1), 1.0);
    EXPECT_GE(milliseconds_of_delay(2), 2.0);
    const auto asked = vostrelle::test::requested_sleeps();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].tv_sec, 0);
    EXPECT_EQ(asked[0].tv_nsec, 1000000);
    EXPECT_EQ(asked[1].tv_nsec, 2000000);
}

TEST(delay, two_seconds_is_one_sleep_of_two_seconds)
{
    // The real two-second wait is measured once, by the lifecycle test.
    vostrelle::test::skip_start_up_delay(true);
    vostrelle::test::record_sleeps_from_now();
    milliseconds_of_delay(2000);
    vostrelle::test::skip_start_up_delay(false);
    const auto asked = vostrelle::test::requested_sleeps();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].tv_sec, 2);
    EXPECT_EQ(asked[0].tv_nsec, 0);
}

TEST(delay, zero_and_negative_return_at_once)
{
    EXPECT_LT(milliseconds_of_delay(0), 50.0);
    EXPECT_LT(milliseconds_of_delay(-5), 50.0);
    EXPECT_LT(milliseconds_of_delay(-2000), 50.0);
}

void ignore_signal(int) {}

TEST(delay, a_signal_cuts_the_sleep_short)
{
    struct sigaction action {};
    action.sa_handler = ignore_signal;
    sigaction(SIGALRM, &action, nullptr);
    itimerval timer{};
    timer.it_value.tv_usec = 100000;
    setitimer(ITIMER_REAL, &timer, nullptr);
    const double slept = milliseconds_of_delay(2000);
    EXPECT_GE(slept, 90.0);
    EXPECT_LT(slept, 1500.0);
}

} // namespace
