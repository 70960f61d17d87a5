#include "link/serial_line.h"

#include <array>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vostrelle::link {

namespace {

struct speed_entry {
    std::int32_t baud;
    speed_t code;
};

constexpr std::array<speed_entry, 16> speed_table{{
    {0, B0},
    {50, B50},
    {75, B75},
    {110, B110},
    {150, B150},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

constexpr std::int32_t smallest_data_bits = 5;
constexpr std::array<tcflag_t, 4> character_sizes{CS5, CS6, CS7, CS8};

struct handshake_flags {
    tcflag_t input;
    tcflag_t control;
};

constexpr std::array<handshake_flags, 4> handshakes{{
    {0, 0},            // none
    {0, 0},            // none, the same record
    {0, CRTSCTS},      // hardware
    {IXON | IXOFF, 0}, // software, with VSTART / VSTOP below
}};

constexpr cc_t end_of_file_character = 4;
constexpr cc_t start_character = 0x15;
constexpr cc_t stop_character = 0x17;

// -1 marks an empty entry: 0 is a real descriptor when a host has closed
// its standard input.
constexpr int no_descriptor = -1;

struct serial_registry {
    std::array<int, highest_port_number + registry_growth> descriptors;
    std::int32_t size;
};

serial_registry registry{};

const speed_entry *find_speed(std::int32_t baud)
{
    for (const auto &entry : speed_table)
        if (entry.baud == baud)
            return &entry;
    return nullptr;
}

bool arguments_acceptable(std::int32_t port, const char *path, std::int32_t baud, std::int32_t data_bits,
                          std::int32_t handshake)
{
    return path != nullptr && port >= 0 && port <= highest_port_number && find_speed(baud) &&
           data_bits >= smallest_data_bits &&
           data_bits < smallest_data_bits + static_cast<std::int32_t>(character_sizes.size()) &&
           handshake >= 0 && handshake < static_cast<std::int32_t>(handshakes.size());
}

termios raw_line_record(speed_t speed, std::int32_t data_bits, float stop_bits, std::int32_t handshake)
{
    const handshake_flags flow = handshakes[static_cast<std::size_t>(handshake)];
    termios record{};
    record.c_iflag = IGNPAR | flow.input;
    record.c_cflag = speed | character_sizes[static_cast<std::size_t>(data_bits - smallest_data_bits)] |
                     flow.control | CREAD | CLOCAL;
    if (!(stop_bits == 1.0f))
        record.c_cflag |= CSTOPB;
    record.c_cc[VEOF] = end_of_file_character;
    record.c_cc[VTIME] = 0;
    record.c_cc[VMIN] = 1;
    record.c_cc[VSTART] = start_character;
    record.c_cc[VSTOP] = stop_character;
    return record;
}

int descriptor_of(std::int32_t port)
{
    if (port < 0 || port >= registry.size)
        return no_descriptor;
    return registry.descriptors[static_cast<std::size_t>(port)];
}

void enter_port(std::int32_t port, int descriptor)
{
    if (port >= registry.size) {
        for (std::int32_t n = registry.size; n < port + registry_growth; ++n)
            registry.descriptors[static_cast<std::size_t>(n)] = no_descriptor;
        registry.size = port + registry_growth;
    }
    int &entry = registry.descriptors[static_cast<std::size_t>(port)];
    if (entry != no_descriptor)
        close(entry);
    entry = descriptor;
}

} // namespace

void create_serial_registry()
{
    registry.descriptors.fill(no_descriptor);
    registry.size = registry_growth;
}

std::int32_t open_serial_port(std::int32_t port, const char *path, std::int32_t baud, std::int32_t data_bits,
                              float stop_bits, std::int32_t handshake)
{
    if (!arguments_acceptable(port, path, baud, data_bits, handshake))
        return 0;
    const int descriptor = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return 0;
    const termios record = raw_line_record(find_speed(baud)->code, data_bits, stop_bits, handshake);
    tcflush(descriptor, TCIFLUSH);
    tcsetattr(descriptor, TCSANOW, &record);
    enter_port(port, descriptor);
    return descriptor;
}

bool serial_port_is_open(std::int32_t port)
{
    return descriptor_of(port) != no_descriptor;
}

std::int32_t serial_registry_size()
{
    return registry.size;
}

std::int32_t serial_available(std::int32_t port)
{
    const int descriptor = descriptor_of(port);
    if (descriptor == no_descriptor)
        return 0;
    int count = 0;
    ioctl(descriptor, FIONREAD, &count);
    return count;
}

std::int32_t serial_read(std::int32_t port, void *buffer, std::int32_t size)
{
    const int descriptor = descriptor_of(port);
    if (descriptor == no_descriptor || size < 0)
        return 0;
    const ssize_t got = read(descriptor, buffer, static_cast<std::size_t>(size));
    return got > 0 ? static_cast<std::int32_t>(got) : 0;
}

std::int32_t serial_write_text(std::int32_t port, const void *bytes, std::int32_t length)
{
    const int descriptor = descriptor_of(port);
    if (bytes == nullptr || descriptor == no_descriptor || length < 0)
        return 0;
    const ssize_t sent = write(descriptor, bytes, static_cast<std::size_t>(length));
    return sent > 0 ? static_cast<std::int32_t>(sent) : 0;
}

void close_serial_ports()
{
    for (std::int32_t port = 0; port < registry.size; ++port) {
        int &entry = registry.descriptors[static_cast<std::size_t>(port)];
        if (entry != no_descriptor) {
            close(entry);
            entry = no_descriptor;
        }
    }
}

} // namespace vostrelle::link
