#include "simulated_board.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <termios.h>
#include <utility>
#include <unistd.h>

#include "board/commands.h"

namespace vostrelle::sim {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t flood_chunk = 1024;
constexpr double waveform_period_s = 4.0;
constexpr long idle_poll_ns = 50'000'000;
// Recordings keep at most this many bytes; older ones are dropped.
constexpr std::size_t recording_limit = 1u << 20;

void record(std::vector<std::uint8_t> &recording, std::uint8_t byte)
{
    if (recording.size() >= recording_limit)
        recording.erase(recording.begin(), recording.begin() + recording_limit / 2);
    recording.push_back(byte);
}

[[noreturn]] void fail(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

int data_bytes_after(char letter)
{
    if (letter == board::pwm_letter)
        return 1;
    if (letter == board::frequency_letter)
        return 2;
    return 0;
}

std::string describe_command(const std::vector<std::uint8_t> &bytes)
{
    const char letter = static_cast<char>(bytes.front());
    if (const auto k = board::conversion_letters.find(letter); k != std::string_view::npos)
        return "convert PA" + std::to_string(k);
    if (letter == board::pwm_letter)
        return "PWM duty " + std::to_string(bytes[1]);
    if (letter == board::frequency_letter)
        return "frequency " + std::to_string(bytes[1] * 256 + bytes[2]);
    if (const auto k = board::line_high_letters.find(letter); k != std::string_view::npos)
        return "PB" + std::to_string(k) + " high";
    if (const auto k = board::line_low_letters.find(letter); k != std::string_view::npos)
        return "PB" + std::to_string(k) + " low";
    return "unknown command";
}

} // namespace

std::optional<fault_mode> parse_fault_mode(std::string_view name)
{
    for (const auto &entry : fault_mode_names)
        if (entry.name == name)
            return entry.mode;
    return std::nullopt;
}

std::string fault_mode_list()
{
    std::string list;
    for (const auto &entry : fault_mode_names)
        list += (list.empty() ? "" : "|") + std::string(entry.name);
    return list;
}

std::string_view name_of(fault_mode mode)
{
    for (const auto &entry : fault_mode_names)
        if (entry.mode == mode)
            return entry.name;
    return "?";
}

simulated_board::simulated_board(fault_mode mode) : mode_(mode)
{
    master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_fd_ < 0 || grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0)
        fail("cannot create a pseudo-terminal");
    char name[128];
    if (ptsname_r(master_fd_, name, sizeof name) != 0)
        fail("cannot name the pseudo-terminal");
    slave_path_ = name;
    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_fd_ < 0)
        fail("cannot open " + slave_path_);
    termios raw{};
    tcgetattr(slave_fd_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_fd_, TCSANOW, &raw);
    if (pipe2(wake_pipe_, O_NONBLOCK | O_CLOEXEC) != 0)
        fail("cannot create a pipe");
    // The board's thread takes no signals: they belong to the program.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    worker_ = std::thread([this] { run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

simulated_board::~simulated_board()
{
    stopping_ = true;
    wake();
    worker_.join();
    for (int fd : {master_fd_, slave_fd_, wake_pipe_[0], wake_pipe_[1]})
        if (fd >= 0)
            close(fd);
}

void simulated_board::set_mode(fault_mode mode)
{
    std::lock_guard lock(mutex_);
    mode_ = mode;
    wake();
}

void simulated_board::set_input(int channel, std::uint16_t count)
{
    std::lock_guard lock(mutex_);
    inputs_.at(static_cast<std::size_t>(channel)) = count;
}

void simulated_board::set_recording(bool recording)
{
    std::lock_guard lock(mutex_);
    recording_ = recording;
}

void simulated_board::set_reading(bool reading)
{
    std::lock_guard lock(mutex_);
    reading_ = reading;
    wake();
}

void simulated_board::set_waveform(bool moving)
{
    std::lock_guard lock(mutex_);
    waveform_ = moving;
}

void simulated_board::set_late_delay(std::chrono::microseconds delay)
{
    std::lock_guard lock(mutex_);
    late_delay_ = delay;
}

void simulated_board::on_exchange(std::function<void(const exchange &)> observer)
{
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void simulated_board::send_unasked(const std::vector<std::uint8_t> &bytes)
{
    std::lock_guard lock(mutex_);
    send(bytes);
}

void simulated_board::hang_up()
{
    std::lock_guard lock(mutex_);
    for (int *fd : {&master_fd_, &slave_fd_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    wake();
}

void simulated_board::wake()
{
    const char byte = 0;
    (void)!write(wake_pipe_[1], &byte, 1);
}

std::vector<std::uint8_t> simulated_board::take_received()
{
    std::lock_guard lock(mutex_);
    return std::exchange(received_, {});
}

bool simulated_board::wait_until_served(std::uint64_t count, std::chrono::milliseconds limit)
{
    std::unique_lock lock(mutex_);
    return served_changed_.wait_for(lock, limit, [&] { return served_ >= count; });
}

std::uint64_t simulated_board::bytes_sent() const
{
    std::lock_guard lock(mutex_);
    return sent_;
}

board_outputs simulated_board::outputs() const
{
    std::lock_guard lock(mutex_);
    return outputs_;
}

std::uint16_t simulated_board::current_input(int channel) const
{
    if (!waveform_)
        return inputs_[static_cast<std::size_t>(channel)];
    const double seconds = std::chrono::duration<double>(clock_type::now() - started_).count();
    const double phase = 2.0 * M_PI * (seconds / waveform_period_s + channel / 8.0);
    return static_cast<std::uint16_t>(std::lround(511.5 + 511.0 * std::sin(phase)));
}

void simulated_board::note(bool from_driver, std::vector<std::uint8_t> bytes, std::string meaning)
{
    if (observer_)
        untold_.push_back(exchange{clock_type::now(), from_driver, std::move(bytes), std::move(meaning)});
}

void simulated_board::tell_observer()
{
    std::vector<exchange> told;
    std::function<void(const exchange &)> observer;
    {
        std::lock_guard lock(mutex_);
        told.swap(untold_);
        observer = observer_;
    }
    for (const auto &e : told)
        observer(e);
}

void simulated_board::send(const std::vector<std::uint8_t> &bytes)
{
    if (master_fd_ < 0 || bytes.empty())
        return;
    const ssize_t written = write(master_fd_, bytes.data(), bytes.size());
    if (written > 0)
        sent_ += static_cast<std::uint64_t>(written);
}

void simulated_board::answer_conversion(int channel)
{
    const std::uint16_t count = current_input(channel);
    const auto high = static_cast<std::uint8_t>(count >> 8);
    const auto low = static_cast<std::uint8_t>(count & 0xFF);
    std::vector<std::uint8_t> reply;
    switch (mode_) {
    case fault_mode::healthy:
        reply = {high, low};
        break;
    case fault_mode::one_byte:
        reply = {high};
        break;
    case fault_mode::late:
        pending_.push_back({clock_type::now() + late_delay_, {high, low}});
        note(false, {high, low}, "reply of PA" + std::to_string(channel) + " held back");
        return;
    case fault_mode::garbage:
        for (std::uint32_t n = 2 + noise_ % 6; n > 0; --n) {
            noise_ = noise_ * 1664525u + 1013904223u;
            reply.push_back(static_cast<std::uint8_t>(noise_ >> 24));
        }
        break;
    case fault_mode::silent:
    case fault_mode::flood:
        return;
    }
    send(reply);
    note(false, reply, reply.size() == 2 && mode_ == fault_mode::healthy
                           ? "reply " + std::to_string(count)
                           : std::string(name_of(mode_)) + " reply");
}

void simulated_board::serve_byte(std::uint8_t byte)
{
    if (recording_)
        record(received_, byte);
    if (open_command_ == '\0') {
        open_command_ = static_cast<char>(byte);
        command_bytes_.clear();
    }
    command_bytes_.push_back(byte);
    if (static_cast<int>(command_bytes_.size()) <= data_bytes_after(open_command_))
        return;
    const char letter = open_command_;
    open_command_ = '\0';
    if (observer_)
        note(true, command_bytes_, describe_command(command_bytes_));
    if (const auto k = board::conversion_letters.find(letter); k != std::string_view::npos)
        answer_conversion(static_cast<int>(k));
    else if (letter == board::pwm_letter)
        outputs_.pwm_duty = command_bytes_[1];
    else if (letter == board::frequency_letter)
        outputs_.frequency = command_bytes_[1] * 256 + command_bytes_[2];
    else if (const auto high = board::line_high_letters.find(letter); high != std::string_view::npos)
        outputs_.lines = static_cast<std::uint8_t>(outputs_.lines | (1u << high));
    else if (const auto low = board::line_low_letters.find(letter); low != std::string_view::npos)
        outputs_.lines = static_cast<std::uint8_t>(outputs_.lines & ~(1u << low));
}

void simulated_board::send_due_replies()
{
    const auto now = clock_type::now();
    auto due = std::stable_partition(pending_.begin(), pending_.end(),
                                     [&](const pending_reply &reply) { return reply.due > now; });
    for (auto it = due; it != pending_.end(); ++it) {
        send(it->bytes);
        note(false, it->bytes, "late reply");
    }
    pending_.erase(due, pending_.end());
}

timespec simulated_board::time_until_next_reply() const
{
    auto next = pending_.front().due;
    for (const auto &reply : pending_)
        next = std::min(next, reply.due);
    const auto wait = std::max(next - clock_type::now(), clock_type::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

void simulated_board::run()
{
    std::vector<std::uint8_t> noise(flood_chunk, 0xA5);
    while (!stopping_) {
        pollfd fds[2] = {{-1, 0, 0}, {wake_pipe_[0], POLLIN, 0}};
        timespec timeout{0, idle_poll_ns};
        {
            std::lock_guard lock(mutex_);
            const short wanted = static_cast<short>((reading_ ? POLLIN : 0) | (mode_ == fault_mode::flood ? POLLOUT : 0));
            fds[0] = {master_fd_, wanted, 0};
            if (!pending_.empty())
                timeout = time_until_next_reply();
        }
        if (ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            char sink[64];
            while (read(wake_pipe_[0], sink, sizeof sink) > 0) {
            }
        }
        ssize_t got = 0;
        {
            std::lock_guard lock(mutex_);
            if (master_fd_ < 0)
                continue;
            if (fds[0].revents & POLLIN) {
                std::uint8_t bytes[256];
                got = read(master_fd_, bytes, sizeof bytes);
                for (ssize_t i = 0; i < got; ++i)
                    serve_byte(bytes[i]);
            }
            if (mode_ == fault_mode::flood && (fds[0].revents & POLLOUT))
                send(noise);
            send_due_replies();
        }
        tell_observer();
        if (got > 0) {
            std::lock_guard lock(mutex_);
            served_ += static_cast<std::uint64_t>(got);
            served_changed_.notify_all();
        }
    }
}

} // namespace vostrelle::sim
