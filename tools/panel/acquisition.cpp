#include "acquisition.h"

#include <algorithm>
#include <sys/prctl.h>

#include "csv.h"
#include "schedule.h"
#include "text.h"

namespace vostrelle::panel {

namespace {

constexpr auto history_size = static_cast<std::size_t>(acquisition::history_length / acquisition::interval);
constexpr auto recording_rows =
    static_cast<std::size_t>(acquisition::recording_limit / acquisition::interval);
constexpr auto answer_check_every = std::chrono::seconds(1);

board_names read_names(host::session &s)
{
    board_names names;
    names.title = tools::latin1_to_utf8(s.api.titre());
    for (int k = 0; k < input_count; ++k)
        names.inputs[k] = tools::latin1_to_utf8(s.api.nead(k));
    for (int k = 0; k < line_count; ++k)
        names.lines[k] = tools::latin1_to_utf8(s.api.nsb(k));
    return names;
}

} // namespace

acquisition::acquisition(host::session &session)
    : session_(session), names_(read_names(session)), history_(history_size)
{
    for (int line = 0; line < line_count; ++line)
        outputs_.lines[line] = session_.api.rsb(line);
}

acquisition::~acquisition()
{
    stop();
}

void acquisition::start(std::function<void()> on_scan)
{
    on_scan_ = std::move(on_scan);
    thread_ = std::thread([this] { run(); });
}

void acquisition::stop()
{
    {
        std::lock_guard lock(stop_mutex_);
        stopping_ = true;
    }
    stop_wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void acquisition::run()
{
    prctl(PR_SET_TIMERSLACK, 1000UL); // wake at the slot, not up to 50 us later
    tools::schedule schedule{clock::now(), interval};
    auto next_check = schedule.start;
    for (;;) {
        {
            std::unique_lock lock(stop_mutex_);
            if (stop_wake_.wait_until(lock, schedule.due(), [this] { return stopping_; }))
                return;
        }
        const auto began = clock::now();
        if (const long long over = schedule.skip_over(began, std::nullopt)) {
            std::lock_guard lock(data_mutex_);
            missed_ += over;
            continue;
        }
        keep(take_scan(began));
        ++schedule.slot;
        if (began >= next_check) { // in the slot's spare time: a scan takes under half of it
            check_answer();
            next_check = began + answer_check_every;
        }
        on_scan_();
    }
}

scan acquisition::take_scan(clock::time_point began)
{
    scan taken;
    taken.seconds = std::chrono::duration<double>(began - started_).count();
    std::lock_guard lock(board_mutex_);
    for (int k = 0; k < input_count; ++k)
        taken.volts[k] = session_.api.ead(k);
    return taken;
}

void acquisition::check_answer()
{
    std::lock_guard lock(board_mutex_);
    const auto check = host::check_answer(session_);
    std::lock_guard data(data_mutex_);
    answer_ = check.result;
}

void acquisition::keep(const scan &taken)
{
    std::lock_guard lock(data_mutex_);
    history_[ring_index(taken_)] = taken;
    ++taken_;
    if (!recording_state_.on)
        return;
    recording_.push_back(taken);
    recording_state_.rows = static_cast<long long>(recording_.size());
    if (recording_.size() >= recording_rows) {
        recording_state_.on = false;
        recording_state_.full = true;
    }
}

std::vector<scan> acquisition::scans_from(std::uint64_t &first) const
{
    std::lock_guard lock(data_mutex_);
    const std::uint64_t oldest = taken_ > history_.size() ? taken_ - history_.size() : 0;
    std::vector<scan> scans;
    for (std::uint64_t k = std::max(first, oldest); k < taken_; ++k)
        scans.push_back(history_[ring_index(k)]);
    first = taken_;
    return scans;
}

std::uint64_t acquisition::first_within(double seconds) const
{
    std::lock_guard lock(data_mutex_);
    const auto wanted = static_cast<std::uint64_t>(std::clamp(seconds, 0.0, 1e9) /
                                                   std::chrono::duration<double>(interval).count());
    const std::uint64_t held = std::min<std::uint64_t>({taken_, history_.size(), wanted});
    return taken_ - held;
}

output_state acquisition::outputs() const
{
    std::lock_guard lock(data_mutex_);
    return outputs_;
}

output_state acquisition::set_pwm(int duty)
{
    return set_analog(0, duty, &output_state::pwm);
}

output_state acquisition::set_frequency(int value)
{
    return set_analog(1, value, &output_state::frequency);
}

output_state acquisition::set_analog(int channel, int value, int output_state::*kept)
{
    {
        std::lock_guard lock(board_mutex_);
        session_.api.sa(channel, value);
    }
    std::lock_guard lock(data_mutex_);
    outputs_.*kept = value;
    ++output_changes_;
    return outputs_;
}

output_state acquisition::set_line(int line, bool on)
{
    int read_back = 0;
    {
        std::lock_guard lock(board_mutex_);
        session_.api.sb(line, on ? 1 : 0);
        read_back = session_.api.rsb(line);
    }
    std::lock_guard lock(data_mutex_);
    outputs_.lines[line] = read_back;
    ++output_changes_;
    return outputs_;
}

std::uint64_t acquisition::output_changes() const
{
    std::lock_guard lock(data_mutex_);
    return output_changes_;
}

bool acquisition::start_recording()
{
    std::lock_guard lock(data_mutex_);
    if (recording_state_.on)
        return false;
    recording_.clear();
    recording_.reserve(1024);
    recording_state_ = {true, 0, false};
    return true;
}

bool acquisition::stop_recording()
{
    std::lock_guard lock(data_mutex_);
    const bool was_on = recording_state_.on;
    recording_state_.on = false;
    return was_on;
}

std::optional<std::string> acquisition::recording_csv() const
{
    std::lock_guard lock(data_mutex_);
    if (recording_.empty())
        return std::nullopt;
    std::string csv = tools::csv_header(names_.inputs);
    const double first = recording_.front().seconds;
    for (const scan &row : recording_)
        csv += tools::csv_line(row.seconds - first, row.volts);
    return csv;
}

std::size_t acquisition::ring_index(std::uint64_t number) const
{
    return static_cast<std::size_t>(number % history_.size());
}

double acquisition::scan_rate_locked() const
{
    const std::uint64_t recent = std::min<std::uint64_t>({taken_, history_.size(), 26});
    if (recent < 2)
        return 0;
    const scan &newest = history_[ring_index(taken_ - 1)];
    const scan &oldest = history_[ring_index(taken_ - recent)];
    const double span = newest.seconds - oldest.seconds;
    if (std::chrono::duration<double>(clock::now() - started_).count() - newest.seconds > 1)
        return 0; // no scan for a second
    return span > 0 ? static_cast<double>(recent - 1) / span : 0;
}

board_status acquisition::status() const
{
    std::lock_guard lock(data_mutex_);
    return {answer_, scan_rate_locked(), missed_, recording_state_};
}

} // namespace vostrelle::panel
