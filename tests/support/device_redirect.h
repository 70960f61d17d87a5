// Leads a dlopen'ed driver's open of "/dev/ttyACM0" somewhere else, without
// touching the driver: the program that links this exports its own `open`
// and `open64` (link with ENABLE_EXPORTS), which the driver then calls.
#pragma once

#include <string>

namespace vostrelle::redirect {

inline constexpr const char *board_device = "/dev/ttyACM0";

// Every later open of the board device opens `path` instead; an empty path
// restores the real device.
void lead_board_to(const std::string &path);

// The descriptor that the latest led-away open of the board returned, or -1.
int board_descriptor();

} // namespace vostrelle::redirect
