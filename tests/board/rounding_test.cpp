// How double arguments become integers, observed through sbdouble on
// channel 8: it sends nothing and returns the rounded value unchanged.
#include <cmath>
#include <limits>

#include "board_fixture.h"

namespace {

using namespace vostrelle;

class rounding : public test::driver_without_board {
protected:
    double rounded(double x) { return api().sbdouble(8.0, x); }
};

TEST_F(rounding, halves_go_away_from_zero_for_the_value_held_as_a_float)
{
    const double infinity = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct case_ {
        double x;
        double expected;
    };
    const case_ cases[] = {
        {2.5, 3},
        {-2.5, -3},
        {0.5, 1},
        {-0.5, -1},
        {1.5, 2},
        {-1.5, -2},
        {0.7, 1},
        {-0.7, -1},
        {0.4999999999, 1},
        {2.4999999999, 3},
        {2.49999, 2},
        {0.49999997f, 0},
        {0.0, 0},
        {-0.0, 0},
        {1e-50, 0},
        {16777217.0, 16777216},
        {2147483520.0, 2147483520},
        {2147483647.0, -2147483648.0},
        {nan, -2147483648.0},
        {-nan, -2147483648.0},
        {infinity, -2147483648.0},
        {-infinity, -2147483648.0},
        {1e300, -2147483648.0},
        {-3e9, -2147483648.0},
        {-0.49999997f, -1},
        {-8388609.0, -8388610},
        {-8388610.0, -8388610},
        {-16777216.0, -16777216},
        {-16777215.0, -16777216},
        {-2147483648.0, -2147483648.0},
        {4e38, -2147483648.0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(rounded(c.x), c.expected) << std::hexfloat << c.x;
}

TEST_F(rounding, odd_whole_numbers_below_minus_two_to_the_23_round_down_to_even)
{
    for (int odd = -16777215; odd <= -8388609; odd += 2 * 4093)
        EXPECT_EQ(rounded(odd), odd - 1) << odd;
    for (int even = -16777214; even <= -8388610; even += 2 * 4093)
        EXPECT_EQ(rounded(even), even) << even;
}

TEST_F(rounding, every_double_form_rounds_its_channel_the_same_way)
{
    EXPECT_STREQ(api().neadouble(2.5), "EA3(PA3)0..5V");
    EXPECT_STREQ(api().neadouble(7.6), "");
    EXPECT_STREQ(api().nsbdouble(0.2), "SB0=PB0(LED)");
    EXPECT_STREQ(api().nsadouble(1.4999999), "SA1=freq(OC2.PD7)0..63535");
    EXPECT_STREQ(api().nebdouble(0.0), "");
    EXPECT_EQ(api().sbdouble(2.6, 0.4), 0.0);
    EXPECT_EQ(api().rsb(3), 0);
    EXPECT_EQ(api().sbdouble(2.6, 1.5), 2.0);
    EXPECT_EQ(api().rsbdouble(2.5), 2.0);
    EXPECT_EQ(api().sadouble(0.4, 99.5), 50.0);
    EXPECT_EQ(api().ebdouble(std::nan("")), -777.0);
    EXPECT_EQ(api().rsadouble(1e300), 0.0);
}

} // namespace
