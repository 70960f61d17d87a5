// The board's side of the command set: what each command means, how the board
// answers a conversion in each fault mode, and the fault modes' names.
#include "simulated_board.h"

#include <cmath>

#include "board/commands.h"

namespace vostrelle::sim {

namespace {

constexpr double waveform_period_s = 4.0;
// Recordings keep at most this many bytes; older ones are dropped.
constexpr std::size_t recording_limit = 1u << 20;

void record(std::vector<std::uint8_t> &recording, std::uint8_t byte)
{
    if (recording.size() >= recording_limit)
        recording.erase(recording.begin(), recording.begin() + recording_limit / 2);
    recording.push_back(byte);
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
    note(false, reply,
         reply.size() == 2 && mode_ == fault_mode::healthy ? "reply " + std::to_string(count)
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

} // namespace vostrelle::sim
