// A simulated Vostrelle board on a pseudo-terminal: it plays the board's
// side of the line for tests, the probe's --simulate and vostrelle-sim.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <ctime>
#include <poll.h>
#include <sys/types.h>

#include "board.h"

namespace vostrelle::sim {

enum class fault_mode {
    healthy,  // answers each conversion with its two bytes at once
    silent,   // answers nothing
    one_byte, // answers the high byte only
    late,     // answers the high byte after `late_delay`, then the low byte
    garbage,  // answers each conversion with a burst of random bytes
    flood,    // keeps the line full of bytes, whatever is asked
};

struct fault_mode_name {
    fault_mode mode;
    std::string_view name;
};

inline constexpr std::array<fault_mode_name, 6> fault_mode_names{{
    {fault_mode::healthy, "healthy"},
    {fault_mode::silent, "silent"},
    {fault_mode::one_byte, "one-byte"},
    {fault_mode::late, "late"},
    {fault_mode::garbage, "garbage"},
    {fault_mode::flood, "flood"},
}};

std::optional<fault_mode> parse_fault_mode(std::string_view name);
std::string_view name_of(fault_mode mode);
// "healthy|silent|…", for help texts.
std::string fault_mode_list();

// A command the board understood, or a reply it sent; for tracing.
struct exchange {
    std::chrono::steady_clock::time_point at;
    bool from_driver;
    std::vector<std::uint8_t> bytes;
    std::string meaning;
};

// What the driver last set on the board.
struct board_outputs {
    int pwm_duty = 0;
    int frequency = 0;
    std::uint8_t lines = 0; // bit k: PB k high
};

class simulated_board {
public:
    // Throws std::system_error when no pseudo-terminal can be made.
    explicit simulated_board(fault_mode mode = fault_mode::healthy);
    ~simulated_board();
    simulated_board(const simulated_board &) = delete;
    simulated_board &operator=(const simulated_board &) = delete;

    // The slave side: what the driver opens.
    const std::string &device_path() const { return slave_path_; }

    void set_mode(fault_mode mode);
    void set_input(int channel, std::uint16_t count);
    // Inputs follow slow sine waves, each channel shifted, so that a live
    // view has something to show.
    void set_waveform(bool moving);
    void set_late_delay(std::chrono::microseconds delay);
    // Called on the board's thread, outside its lock, for every exchange;
    // wait_until_served() returns only after the observer has seen the
    // exchanges of the bytes it waited for.
    void on_exchange(std::function<void(const exchange &)> observer);

    // Bytes from the board's side, as if sent unasked (stale replies).
    void send_unasked(const std::vector<std::uint8_t> &bytes);
    // Whether the driver's bytes are kept for take_received(); long runs
    // turn it off.
    void set_recording(bool recording);
    // A board that stops reading lets the driver's output queue fill up.
    void set_reading(bool reading);
    // Closes the board's side: the line hangs up for good.
    void hang_up();

    // Bytes the driver wrote since the last take, in order.
    std::vector<std::uint8_t> take_received();
    // Waits until the board has taken and answered `count` bytes in all
    // since it started; false when `limit` passed first.
    bool wait_until_served(std::uint64_t count, std::chrono::milliseconds limit);
    // Bytes the board has put on the line since it started, replies and
    // unasked bytes alike.
    std::uint64_t bytes_sent() const;
    board_outputs outputs() const;

private:
    using clock_type = std::chrono::steady_clock;
    struct pending_reply {
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };

    void run();
    // The events to wait for on the line; how long to wait.
    timespec watch_line(pollfd &line) const;
    void drain_wake_pipe();
    // Takes the driver's bytes and sends what is due; the bytes taken, or -1
    // when the line is closed.
    ssize_t serve_line(short revents, const std::vector<std::uint8_t> &noise);
    void wake();
    void tell_observer();
    void serve_byte(std::uint8_t byte);
    void answer_conversion(int channel);
    void send(const std::vector<std::uint8_t> &bytes);
    void send_due_replies();
    void note(bool from_driver, std::vector<std::uint8_t> bytes, std::string meaning);
    std::uint16_t current_input(int channel) const;
    timespec time_until_next_reply() const;

    int master_fd_ = -1;
    int slave_fd_ = -1; // held so the line never hangs up between driver opens
    int wake_pipe_[2] = {-1, -1};
    std::string slave_path_;
    std::thread worker_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    fault_mode mode_;
    std::array<std::uint16_t, tools::board::input_count> inputs_{};
    bool waveform_ = false;
    bool reading_ = true;
    bool recording_ = true;
    std::chrono::microseconds late_delay_{tools::board::late_reply_delay};
    std::function<void(const exchange &)> observer_;
    std::vector<std::uint8_t> received_;
    std::vector<exchange> untold_; // for the observer, once the lock is free
    std::uint64_t served_ = 0;
    std::uint64_t sent_ = 0;
    std::condition_variable served_changed_;
    std::vector<pending_reply> pending_;
    board_outputs outputs_;
    std::uint32_t noise_ = 0x2545F491u;
    // A command whose data bytes are still to come.
    char open_command_ = '\0';
    std::vector<std::uint8_t> command_bytes_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

} // namespace vostrelle::sim
