// The driver's module-wide state, alive from load to unload.
#pragma once

#include <array>
#include <cstdint>

namespace vostrelle::link {

constexpr std::int32_t readback_entries = 9;

struct driver_state {
    std::int32_t board_port;
    const char *device_path;
    // One pair shared by every analog read and by `sa`: a byte that does not
    // arrive keeps whatever the last read or `sa` left in it.
    std::uint8_t reply_high;
    std::uint8_t reply_low;
    double adc_high_weight;
    double adc_offset;
    double adc_full_scale;
    double adc_divisor;
    std::array<std::int16_t, readback_entries> output_readback;
};

inline constexpr const char *board_device_path = "/dev/ttyACM0";
// Names another device for the board when set and not empty at load.
inline constexpr const char *device_variable = "VOSTRELLE_DEVICE";

// The path the board is opened on: the variable's value, else
// board_device_path. A privileged (set-user-ID) process never takes the
// variable, so that its caller cannot choose the file it opens.
const char *chosen_device_path();

constexpr driver_state initial_driver_state{
    0, board_device_path, 0, 0, 256.0, 0.0, 5.0, 1023.0, {},
};

// Defined and constant-initialised in driver_state.cpp.
extern constinit driver_state state; // NOLINT(bugprone-dynamic-static-initializers)

// A board may restart when its port is opened: the time it is given before
// the first command.
inline constexpr std::int32_t board_start_up_ms = 2000;

// Opens `path` as `port` with the board's line settings (38400 baud, 8 data
// bits, one stop bit, no handshake); the descriptor, or 0.
std::int32_t open_board_line(std::int32_t port, const char *path);

// What the loader runs: open the board and give it time to start; close it.
void load_driver();
void unload_driver();

} // namespace vostrelle::link
