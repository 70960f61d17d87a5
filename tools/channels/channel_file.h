// The channel file: for each board, matched by USB serial number or device
// path, the name, unit, decimals and scale of its inputs.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "scales.h"

namespace vostrelle::channels {

inline constexpr int input_count = 8;

struct channel {
    std::string name; // empty: the driver's name of the input
    std::string unit = "V";
    int decimals = 3;
    scale scaling;
    std::optional<std::array<double, 2>> limits;
};

struct board_entry {
    std::string serial, device; // one of the two
    int line = 0;               // of its [[board]]
    std::array<std::optional<channel>, input_count> inputs;
};

struct channel_file {
    std::string path;
    std::vector<board_entry> boards;
};

// "FILE:LINE: what is wrong and what to write instead".
struct file_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole file or a file_error: nothing is taken from a file with a fault.
channel_file parse_channel_file(std::string_view text, const std::string &path);

// The entry for the board at `device` (serial: its USB serial, when it has
// one), or nothing.
const board_entry *board_for(const channel_file &file, const std::string &device,
                             const std::optional<std::string> &serial);

} // namespace vostrelle::channels
