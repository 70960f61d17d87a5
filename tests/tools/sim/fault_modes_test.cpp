// The simulated board's fault modes by name, as --simulate and --mode take them.
#include <gtest/gtest.h>

#include "session.h"
#include "simulated_board.h"

namespace {

using namespace vostrelle;

TEST(fault_modes, every_name_reads_back_as_its_mode)
{
    for (const auto &[mode, name] : sim::fault_mode_names) {
        EXPECT_EQ(sim::parse_fault_mode(name), mode) << name;
        EXPECT_EQ(sim::name_of(mode), name);
    }
    EXPECT_EQ(sim::fault_mode_list(), "healthy|silent|one-byte|late|garbage|flood");
    EXPECT_FALSE(sim::parse_fault_mode("one_byte"));
    EXPECT_FALSE(sim::parse_fault_mode(""));
}

TEST(fault_modes, simulate_without_a_mode_is_healthy)
{
    EXPECT_EQ(host::simulation_mode(""), sim::fault_mode::healthy);
    EXPECT_EQ(host::simulation_mode("late"), sim::fault_mode::late);
}

TEST(fault_modes, an_unknown_mode_is_refused_with_the_names)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(host::simulation_mode("bogus"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) +
                  ": unknown simulation mode 'bogus' (use healthy|silent|one-byte|late|garbage|flood)\n");
}

} // namespace
