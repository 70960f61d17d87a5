#include "link/driver_state.h"

#include <stdlib.h> // secure_getenv

#include "link/clock.h"
#include "link/serial_line.h"

namespace vostrelle::link {

namespace {
constexpr std::int32_t board_baud = 38400;
constexpr std::int32_t board_data_bits = 8;
constexpr float board_stop_bits = 1.0f;
constexpr std::int32_t board_handshake = 0;
} // namespace

constinit driver_state state = initial_driver_state;

const char *chosen_device_path()
{
    const char *chosen = secure_getenv(device_variable);
    return chosen && chosen[0] != '\0' ? chosen : board_device_path;
}

std::int32_t open_board_line(std::int32_t port, const char *path)
{
    return open_serial_port(port, path, board_baud, board_data_bits, board_stop_bits, board_handshake);
}

void load_driver()
{
    create_serial_registry();
    state = initial_driver_state; // read-back table all 0
    state.device_path = chosen_device_path();
    // Failure is not reported: every transfer on an unopened port does nothing.
    open_board_line(state.board_port, state.device_path);
    delay_milliseconds(board_start_up_ms);
}

void unload_driver()
{
    close_serial_ports();
}

} // namespace vostrelle::link
