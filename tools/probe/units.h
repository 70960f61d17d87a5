// The channel file's entry for the board at a device, as every tool looks it up.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "channel_file.h"

namespace vostrelle::probe {

// Each input as the channel file names it; none: volts, as the driver names it.
using input_channels = std::array<std::optional<channels::channel>, channels::input_count>;

// The inputs of the board at `device` in the file (matched by its USB serial
// number or its path); all empty without a file or an entry.
input_channels channels_of(const std::optional<channels::channel_file> &file, const std::string &device);

} // namespace vostrelle::probe
