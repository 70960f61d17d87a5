#include "simulated_board.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace vostrelle::sim {

namespace {

constexpr std::size_t flood_chunk = 1024;
constexpr long idle_poll_ns = 50'000'000;

[[noreturn]] void fail(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

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

timespec simulated_board::watch_line(pollfd &line) const
{
    std::lock_guard lock(mutex_);
    const int wanted = (reading_ ? POLLIN : 0) | (mode_ == fault_mode::flood ? POLLOUT : 0);
    line = {master_fd_, static_cast<short>(wanted), 0};
    return pending_.empty() ? timespec{0, idle_poll_ns} : time_until_next_reply();
}

void simulated_board::drain_wake_pipe()
{
    char sink[64];
    while (read(wake_pipe_[0], sink, sizeof sink) > 0) {}
}

ssize_t simulated_board::serve_line(short revents, const std::vector<std::uint8_t> &noise)
{
    std::lock_guard lock(mutex_);
    if (master_fd_ < 0)
        return -1;
    ssize_t got = 0;
    if (revents & POLLIN) {
        std::uint8_t bytes[256];
        got = std::max<ssize_t>(read(master_fd_, bytes, sizeof bytes), 0);
        for (ssize_t i = 0; i < got; ++i)
            serve_byte(bytes[i]);
    }
    if (mode_ == fault_mode::flood && (revents & POLLOUT))
        send(noise);
    send_due_replies();
    return got;
}

void simulated_board::run()
{
    const std::vector<std::uint8_t> noise(flood_chunk, 0xA5);
    while (!stopping_) {
        pollfd fds[2] = {{-1, 0, 0}, {wake_pipe_[0], POLLIN, 0}};
        const timespec timeout = watch_line(fds[0]);
        if (ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            drain_wake_pipe();
        const ssize_t got = serve_line(fds[0].revents, noise);
        if (got < 0) // the line was closed
            continue;
        tell_observer();
        if (got > 0) {
            std::lock_guard lock(mutex_);
            served_ += static_cast<std::uint64_t>(got);
            served_changed_.notify_all();
        }
    }
}

} // namespace vostrelle::sim
