// One board's metrics as its acquisition loop has them, for /metrics of the
// panel and the bridge.
#pragma once

#include <array>
#include <string>

#include "acquisition.h"
#include "channel_file.h"
#include "metrics.h"

namespace vostrelle::panel {

using board_channels = std::array<channels::channel, input_count>;

// `board` names it in the labels; the inputs' values are in their channels'
// units, from the newest scan of the last half second.
tools::board_metrics metrics_of(const acquisition &loop, const std::string &board,
                                const board_channels &inputs);

} // namespace vostrelle::panel
