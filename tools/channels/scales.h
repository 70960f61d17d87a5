// How a channel turns volts into the value of its sensor: a line, two
// calibration points, or a table.
#pragma once

#include <vector>

namespace vostrelle::channels {

struct point {
    double volts;
    double value;
};

// No points: value = gain × volts + offset. Else piecewise linear through
// the points (volts increasing), clamped at the ends.
struct scale {
    double gain = 1;
    double offset = 0;
    std::vector<point> points;
};

scale linear_scale(double gain, double offset);
// The line through both points; their volts must differ.
scale two_point_scale(point first, point second);
// The volts must increase.
scale table_scale(std::vector<point> points);

double value_of(const scale &s, double volts);

} // namespace vostrelle::channels
