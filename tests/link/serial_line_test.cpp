#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "driver.h"
#include "link/serial_line.h"
#include "simulated_board.h"

// This program's own tcflush and tcsetattr see every call the serial line
// makes, in order, before passing it on.
namespace {
std::vector<std::string> terminal_calls;
termios last_record{};
} // namespace

extern "C" int tcflush(int fd, int queue)
{
    terminal_calls.push_back(queue == TCIFLUSH ? "flush input" : "flush other");
    using real_type = int (*)(int, int);
    static const auto real = reinterpret_cast<real_type>(dlsym(RTLD_NEXT, "tcflush"));
    return real(fd, queue);
}

extern "C" int tcsetattr(int fd, int when, const termios *record)
{
    terminal_calls.push_back(when == TCSANOW ? "set now" : "set later");
    last_record = *record;
    using real_type = int (*)(int, int, const termios *);
    static const auto real = reinterpret_cast<real_type>(dlsym(RTLD_NEXT, "tcsetattr"));
    return real(fd, when, record);
}

namespace {

using namespace vostrelle;
using namespace std::chrono_literals;

// The line settings as the device now holds them.
termios settings_of(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios now{};
    EXPECT_EQ(tcgetattr(fd, &now), 0);
    close(fd);
    return now;
}

class serial_line : public ::testing::Test {
protected:
    void SetUp() override { link::create_serial_registry(); }
    void TearDown() override { link::close_serial_ports(); }

    std::int32_t open_board(std::int32_t port, std::int32_t baud = 38400, std::int32_t data_bits = 8,
                            float stop_bits = 1.0f, std::int32_t handshake = 0)
    {
        return link::open_serial_port(port, board.device_path().c_str(), baud, data_bits, stop_bits,
                                      handshake);
    }

    sim::simulated_board board;
};

TEST_F(serial_line, board_settings_make_a_raw_38400_8n1_line)
{
    ASSERT_GT(open_board(0), 0);
    const termios applied = settings_of(board.device_path());
    EXPECT_EQ(applied.c_cflag, tcflag_t(B38400 | CS8 | CREAD | CLOCAL));
    EXPECT_EQ(applied.c_iflag, tcflag_t(IGNPAR));
    EXPECT_EQ(applied.c_oflag, 0u);
    EXPECT_EQ(applied.c_lflag, 0u);
    const std::array<std::pair<int, cc_t>, 17> expected_characters{{
        {VINTR, 0},
        {VQUIT, 0},
        {VERASE, 0},
        {VKILL, 0},
        {VEOF, 4},
        {VTIME, 0},
        {VMIN, 1},
        {VSWTC, 0},
        {VSTART, 21},
        {VSTOP, 23},
        {VSUSP, 0},
        {VEOL, 0},
        {VREPRINT, 0},
        {VDISCARD, 0},
        {VWERASE, 0},
        {VLNEXT, 0},
        {VEOL2, 0},
    }};
    for (const auto &[index, value] : expected_characters)
        EXPECT_EQ(applied.c_cc[index], value) << "c_cc[" << index << "]";
}

TEST_F(serial_line, the_record_is_built_from_zero_and_set_after_flushing_input)
{
    terminal_calls.clear();
    ASSERT_GT(open_board(0), 0);
    EXPECT_EQ(terminal_calls, (std::vector<std::string>{"flush input", "set now"}));
    termios expected{};
    expected.c_iflag = IGNPAR;
    expected.c_cflag = B38400 | CS8 | CREAD | CLOCAL;
    expected.c_cc[VEOF] = 4;
    expected.c_cc[VMIN] = 1;
    expected.c_cc[VSTART] = 21;
    expected.c_cc[VSTOP] = 23;
    EXPECT_EQ(0, std::memcmp(&last_record, &expected, sizeof expected)) << "every other byte is zero";
}

TEST_F(serial_line, data_bits_stop_bits_and_handshake_shape_the_control_flags)
{
    struct line_case {
        std::int32_t baud, data_bits;
        float stop_bits;
        std::int32_t handshake;
        tcflag_t control, input;
    };
    const line_case cases[] = {
        {9600, 5, 1.0f, 0, B9600 | CS5, IGNPAR},
        {4800, 6, 2.0f, 1, B4800 | CS6 | CSTOPB, IGNPAR},
        {115200, 7, 1.5f, 2, B115200 | CS7 | CSTOPB | CRTSCTS, IGNPAR},
        {50, 8, 0.0f, 3, B50 | CS8 | CSTOPB, IGNPAR | IXON | IXOFF},
        {38400, 8, std::numeric_limits<float>::quiet_NaN(), 0, B38400 | CS8 | CSTOPB, IGNPAR},
    };
    for (const auto &c : cases) {
        ASSERT_GT(open_board(0, c.baud, c.data_bits, c.stop_bits, c.handshake), 0);
        EXPECT_EQ(last_record.c_cflag, c.control | CREAD | CLOCAL) << c.baud;
        EXPECT_EQ(last_record.c_iflag, c.input) << c.baud;
    }
}

TEST_F(serial_line, handshake_one_applies_the_record_of_handshake_zero)
{
    ASSERT_GT(open_board(0, 38400, 8, 1.0f, 0), 0);
    const termios none = settings_of(board.device_path());
    ASSERT_GT(open_board(0, 38400, 8, 1.0f, 1), 0);
    const termios one = settings_of(board.device_path());
    EXPECT_EQ(none.c_cflag, one.c_cflag);
    EXPECT_EQ(none.c_iflag, one.c_iflag);
    EXPECT_EQ(0, std::memcmp(none.c_cc, one.c_cc, sizeof none.c_cc));
}

TEST_F(serial_line, refused_arguments_open_nothing)
{
    const int before = test::descriptors_open_on(board.device_path());
    for (const int baud : {134, 200, 230400, 38401, -1})
        EXPECT_EQ(open_board(0, baud), 0) << baud;
    for (const int data_bits : {4, 9})
        EXPECT_EQ(open_board(0, 38400, data_bits), 0) << data_bits;
    for (const int handshake : {-1, 4})
        EXPECT_EQ(open_board(0, 38400, 8, 1.0f, handshake), 0) << handshake;
    EXPECT_EQ(open_board(-1), 0);
    EXPECT_EQ(open_board(link::highest_port_number + 1), 0);
    EXPECT_EQ(link::open_serial_port(0, nullptr, 38400, 8, 1.0f, 0), 0);
    EXPECT_EQ(link::open_serial_port(0, "/nonexistent/tty", 38400, 8, 1.0f, 0), 0);
    EXPECT_EQ(test::descriptors_open_on(board.device_path()), before);
    EXPECT_FALSE(link::serial_port_is_open(0));
    EXPECT_EQ(link::serial_registry_size(), 16);
}

TEST_F(serial_line, speed_zero_is_accepted)
{
    ASSERT_GT(open_board(0, 0), 0);
    EXPECT_EQ(settings_of(board.device_path()).c_cflag & CBAUD, tcflag_t(B0));
}

TEST_F(serial_line, input_pending_before_open_is_discarded)
{
    // Another descriptor on the line sees the bytes arrive before the open.
    const int watcher = open(board.device_path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watcher, 0);
    board.send_unasked({1, 2, 3, 4});
    int waiting = 0;
    for (int i = 0; i < 5000 && waiting < 4; ++i) {
        std::this_thread::sleep_for(1ms);
        ioctl(watcher, FIONREAD, &waiting);
    }
    close(watcher);
    ASSERT_EQ(waiting, 4);
    ASSERT_GT(open_board(0), 0);
    EXPECT_EQ(link::serial_available(0), 0);
}

TEST_F(serial_line, failed_reopen_leaves_the_old_port_working)
{
    ASSERT_GT(open_board(0), 0);
    EXPECT_EQ(link::open_serial_port(0, "/nonexistent/tty", 38400, 8, 1.0f, 0), 0);
    EXPECT_EQ(link::serial_write_text(0, "I", 1), 1);
    ASSERT_TRUE(board.wait_until_served(1, 5s));
    EXPECT_EQ(board.take_received(), std::vector<std::uint8_t>{'I'});
}

TEST_F(serial_line, reopen_replaces_the_descriptor_and_closes_the_old_one)
{
    const int first = open_board(0);
    ASSERT_GT(first, 0);
    const int open_before = test::descriptors_open_on(board.device_path());
    const int second = open_board(0);
    ASSERT_GT(second, 0);
    EXPECT_NE(first, second) << "the old descriptor must still be open while the new one is configured";
    EXPECT_EQ(test::descriptors_open_on(board.device_path()), open_before);
    EXPECT_EQ(fcntl(first, F_GETFD), -1) << "old descriptor left open";
}

TEST_F(serial_line, opening_port_20_grows_the_registry_leaving_16_to_19_closed)
{
    ASSERT_GT(open_board(20), 0);
    EXPECT_EQ(link::serial_registry_size(), 36);
    for (int port = 16; port < 20; ++port)
        EXPECT_FALSE(link::serial_port_is_open(port)) << port;
    EXPECT_TRUE(link::serial_port_is_open(20));
}

TEST_F(serial_line, a_regular_file_opens_though_it_takes_no_settings)
{
    char path[] = "/tmp/vostrelle-regular-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_GT(link::open_serial_port(3, path, 38400, 8, 1.0f, 0), 0);
    EXPECT_TRUE(link::serial_port_is_open(3));
    EXPECT_EQ(link::serial_write_text(3, "ab", 2), 2);
    unlink(path);
}

TEST_F(serial_line, descriptor_zero_counts_as_open)
{
    const int saved = dup(STDIN_FILENO);
    close(STDIN_FILENO);
    const int fd = open_board(0);
    EXPECT_EQ(fd, 0);
    EXPECT_TRUE(link::serial_port_is_open(0));
    EXPECT_EQ(link::serial_write_text(0, "P", 1), 1);
    link::close_serial_ports();
    dup2(saved, STDIN_FILENO);
    close(saved);
}

TEST_F(serial_line, transfers_on_ports_that_are_not_open_return_zero)
{
    char byte = 'x';
    for (const int port : {0, 5, 15, 16, 1000, -1}) {
        EXPECT_EQ(link::serial_available(port), 0);
        EXPECT_EQ(link::serial_read(port, &byte, 1), 0);
        EXPECT_EQ(link::serial_write_text(port, "I", 1), 0);
    }
    EXPECT_EQ(byte, 'x');
}

TEST_F(serial_line, writes_send_every_byte_unchanged_and_length_zero_sends_nothing)
{
    ASSERT_GT(open_board(0), 0);
    EXPECT_EQ(link::serial_write_text(0, "q\0", 2), 2);
    EXPECT_EQ(link::serial_write_text(0, "Z", 0), 0);
    EXPECT_EQ(link::serial_write_text(0, nullptr, 1), 0);
    ASSERT_TRUE(board.wait_until_served(2, 5s));
    EXPECT_EQ(board.take_received(), (std::vector<std::uint8_t>{'q', 0}));
}

TEST_F(serial_line, reads_take_what_is_waiting_and_return_at_once_when_nothing_is)
{
    ASSERT_GT(open_board(0), 0);
    char byte = 'x';
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link::serial_read(0, &byte, 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    board.send_unasked({0x42, 0x43});
    for (int i = 0; i < 200 && link::serial_available(0) < 2; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(link::serial_available(0), 2);
    EXPECT_EQ(link::serial_read(0, &byte, 1), 1);
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(link::serial_available(0), 1);
}

TEST_F(serial_line, closing_ends_every_transfer_and_closing_twice_is_harmless)
{
    ASSERT_GT(open_board(0), 0);
    ASSERT_GT(open_board(7), 0);
    link::close_serial_ports();
    EXPECT_FALSE(link::serial_port_is_open(0));
    EXPECT_EQ(link::serial_write_text(0, "I", 1), 0);
    EXPECT_EQ(link::serial_available(7), 0);
    link::close_serial_ports();
    EXPECT_GT(open_board(0), 0) << "the registry stays usable";
}

TEST_F(serial_line, the_board_hanging_up_turns_transfers_into_zeros)
{
    const int fd = open_board(0);
    ASSERT_GT(fd, 0);
    board.hang_up();
    pollfd line{fd, 0, 0};
    ASSERT_EQ(poll(&line, 1, 5000), 1) << "the hang-up never reached the line";
    ASSERT_TRUE(line.revents & POLLHUP);
    char byte = 0;
    EXPECT_EQ(link::serial_available(0), 0);
    EXPECT_EQ(link::serial_read(0, &byte, 1), 0);
    EXPECT_EQ(link::serial_write_text(0, "I", 1), 0);
}

} // namespace
