// The three scales: a line, two calibration points, a table clamped at its ends.
#include <gtest/gtest.h>

#include "scales.h"

namespace {

using namespace vostrelle::channels;

TEST(scales, turn_volts_into_the_sensors_value)
{
    EXPECT_DOUBLE_EQ(value_of(linear_scale(100, 0), 0.25), 25.0); // 10 mV per degree
    EXPECT_DOUBLE_EQ(value_of(linear_scale(2, -1), 1.5), 2.0);
    const scale light = two_point_scale({0.5, 10}, {4.5, 1000});
    EXPECT_DOUBLE_EQ(value_of(light, 2.5), 505.0);
    EXPECT_DOUBLE_EQ(value_of(light, 4.9), 1099.0); // a line: not clamped
    const scale distance = table_scale({{0.4, 80}, {1.0, 30}, {2.5, 10}});
    EXPECT_DOUBLE_EQ(value_of(distance, 0.7), 55.0);
    EXPECT_DOUBLE_EQ(value_of(distance, 1.75), 20.0);
    EXPECT_DOUBLE_EQ(value_of(distance, 1.0), 30.0);
    EXPECT_DOUBLE_EQ(value_of(distance, 0.1), 80.0);
    EXPECT_DOUBLE_EQ(value_of(distance, 4.0), 10.0);
}

} // namespace
