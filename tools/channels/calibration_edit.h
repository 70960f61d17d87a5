// Writing a two-point calibration into the channel file, keeping its other
// contents and comments.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "channel_file.h"

namespace vostrelle::channels {

struct board_identity {
    std::string device;
    std::optional<std::string> serial; // a new entry is matched by it when there is one
};

// `text` with input `input`'s scale replaced by `calibration = [[…], […]]`:
// in its [board.input.N] table when there is one, else in a new one under its
// board, else under a new [[board]] at the end. A file_error (nothing
// changed) when the text is not a valid channel file or the volts are equal.
std::string with_calibration(std::string_view text, const std::string &path, const board_identity &board,
                             int input, point first, point second);

// Replaces the file's contents whole (a temporary file beside it, then a
// rename): on failure the old file is left as it was and a file_error says why.
void replace_file(const std::string &path, const std::string &text);

} // namespace vostrelle::channels
