// A board's metrics read from its acquisition loop.
#include "board_metrics.h"

#include "scales.h"

namespace vostrelle::panel {

tools::board_metrics metrics_of(const acquisition &loop, const std::string &board,
                                const board_channels &inputs)
{
    tools::board_metrics m;
    m.board = board;
    std::uint64_t first = loop.first_within(0.5);
    const auto recent = loop.scans_from(first);
    if (!recent.empty())
        for (int k = 0; k < input_count; ++k)
            m.inputs.push_back(
                {k, inputs[k].unit, channels::value_of(inputs[k].scaling, recent.back().volts[k])});
    m.scans = static_cast<long long>(first); // the number of the next scan: those taken so far
    const board_status status = loop.status();
    m.missed = status.missed;
    m.gaps = status.gaps;
    m.reloads = status.reloads;
    m.answering = status.board == board_state::answering;
    return m;
}

} // namespace vostrelle::panel
