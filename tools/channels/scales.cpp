// The three ways a channel turns volts into its sensor's value.
#include "scales.h"

#include <algorithm>

namespace vostrelle::channels {

scale linear_scale(double gain, double offset)
{
    return {gain, offset, {}};
}

scale two_point_scale(point first, point second)
{
    const double gain = (second.value - first.value) / (second.volts - first.volts);
    return linear_scale(gain, first.value - gain * first.volts);
}

scale table_scale(std::vector<point> points)
{
    return {1, 0, std::move(points)};
}

double value_of(const scale &s, double volts)
{
    if (s.points.empty())
        return s.gain * volts + s.offset;
    const auto &p = s.points;
    if (volts <= p.front().volts)
        return p.front().value;
    if (volts >= p.back().volts)
        return p.back().value;
    const auto above =
        std::upper_bound(p.begin(), p.end(), volts, [](double v, const point &q) { return v < q.volts; });
    const auto below = above - 1;
    const double fraction = (volts - below->volts) / (above->volts - below->volts);
    return below->value + fraction * (above->value - below->value);
}

} // namespace vostrelle::channels
