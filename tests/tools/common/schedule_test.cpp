// The recording schedule: slots fixed to the start, missed ones skipped and
// counted, never past the end.
#include <gtest/gtest.h>

#include "schedule.h"

namespace {

using vostrelle::tools::schedule;
using namespace std::chrono_literals;

const schedule::clock::time_point start{1s};

TEST(schedule, late_scans_never_shift_the_slots_after_them)
{
    schedule s{start, 40ms};
    s.slot = 3;
    EXPECT_EQ(s.due(), start + 120ms);
    EXPECT_EQ(s.over_at(start + 159ms), 0) << "a scan late within its slot still belongs to it";
    EXPECT_EQ(s.over_at(start + 160ms), 1);
    EXPECT_EQ(s.over_at(start + 250ms), 3);
}

// A board slower than the interval: every slot is either a scan or a counted
// miss, and the count never runs past the end.
TEST(schedule, scans_and_missed_slots_fill_the_schedule)
{
    constexpr long long slots = 20;
    schedule s{start, 2ms};
    long long scans = 0, missed = 0;
    auto now = start;
    while (s.slot < slots) {
        now = std::max(now, s.due());
        if (const long long skipped = s.skip_over(now, slots)) {
            missed += skipped;
            continue;
        }
        ++scans;
        ++s.slot;
        now += 5ms; // one scan
    }
    EXPECT_GT(missed, 0);
    EXPECT_EQ(scans + missed, slots);
    EXPECT_EQ(s.slot, slots);
}

TEST(schedule, without_an_end_every_slot_over_is_skipped)
{
    schedule s{start, 10ms};
    EXPECT_EQ(s.skip_over(start + 1s, std::nullopt), 100);
    EXPECT_EQ(s.due(), start + 1s);
}

} // namespace
