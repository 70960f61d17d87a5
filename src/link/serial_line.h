// The serial line to the board: a registry of open ports, a raw-line open,
// and transfers that never block and report every failure as 0.
#pragma once

#include <cstdint>

namespace vostrelle::link {

// Port numbers above this are refused; the registry never needs more room
// than this bound plus its growth step, so it lives in static storage.
constexpr std::int32_t highest_port_number = 255;
constexpr std::int32_t registry_growth = 16;

// Empties the registry: 16 entries, none open.
void create_serial_registry();

// Opens `path` as a raw line and enters it as `port`, replacing (and then
// closing) a port already open under that number. Returns the descriptor,
// or 0 when the arguments are refused or the device does not open.
// Handshake: 0 and 1 none, 2 RTS/CTS, 3 XON/XOFF with the start and stop
// characters of the record (0x15 and 0x17).
std::int32_t open_serial_port(std::int32_t port, const char *path, std::int32_t baud, std::int32_t data_bits,
                              float stop_bits, std::int32_t handshake);

bool serial_port_is_open(std::int32_t port);
std::int32_t serial_registry_size();

std::int32_t serial_available(std::int32_t port);
std::int32_t serial_read(std::int32_t port, void *buffer, std::int32_t size);
std::int32_t serial_write_text(std::int32_t port, const void *bytes, std::int32_t length);

// Closes every open port, in ascending order; the registry stays usable.
void close_serial_ports();

} // namespace vostrelle::link
