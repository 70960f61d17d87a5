#include "acquisition.h"

#include <algorithm>
#include <iostream>
#include <sys/prctl.h>

#include "csv.h"
#include "schedule.h"
#include "shown.h"
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

acquisition::acquisition(host::session &session, bool restore_outputs, std::string program)
    : session_(session), restore_outputs_(restore_outputs), program_(std::move(program)),
      names_(read_names(session)), history_(history_size),
      follower_(session, [this](const host::state_change &change) { publish(change); })
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
        std::lock_guard lock(wake_mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void acquisition::run()
{
    prctl(PR_SET_TIMERSLACK, 1000UL); // wake at the slot, not up to 50 us later
    tools::schedule schedule{clock::now(), interval};
    auto next_check = schedule.start;
    while (wait_for_slot(std::max(schedule.due(), follower_.next_call()))) {
        const auto began = clock::now();
        if (!scan_slot(schedule))
            continue;
        if (began >= next_check) { // in the slot's spare time: a scan takes under half of it
            check_answer();
            next_check = began + answer_check_every;
        }
        on_scan_();
    }
    serve_jobs(); // those asked for before the stop
}

// One slot: a scan, kept when the board answered it. False when the board
// is gone, silent or loading, or the slot was over already: missed slots.
bool acquisition::scan_slot(tools::schedule &schedule)
{
    if (!follower_.ready()) {
        count_missed(schedule.skip_over(clock::now(), std::nullopt));
        return false;
    }
    after_reload();
    const auto began = clock::now();
    if (const long long over = schedule.skip_over(began, std::nullopt)) {
        count_missed(over);
        return false;
    }
    const auto [taken, replied] = take_scan(began);
    ++schedule.slot;
    if (!follower_.answered(replied, input_count)) {
        count_missed(1);
        return false;
    }
    keep(taken);
    return true;
}

void acquisition::count_missed(long long slots)
{
    if (slots == 0)
        return;
    std::lock_guard lock(data_mutex_);
    missed_ += slots;
    if (!missing_ && taken_ > 0)
        ++gaps_;
    missing_ = true;
}

void acquisition::publish(const host::state_change &change)
{
    std::cerr << program_ << ": " << host::change_text(change, session_.device) << std::endl;
    {
        std::lock_guard lock(data_mutex_);
        state_ = change.to;
        since_ = state_ == board_state::answering ? 0 : std::chrono::system_clock::to_time_t(change.at.wall);
        if (state_ != board_state::answering)
            answer_ = host::answer::none;
    }
    // The reload begins next, on this thread: the changes still waiting are
    // refused now rather than after its two seconds.
    if (change.to == board_state::loading)
        serve_jobs(false);
}

// The driver was loaded again: names and read-back anew, the outputs as the
// reset board has them (off), or as last set through the panel when asked.
void acquisition::after_reload()
{
    if (!follower_.take_reload())
        return;
    board_names names = read_names(session_);
    {
        std::lock_guard lock(data_mutex_);
        names_ = std::move(names);
        ++reloads_;
        outputs_ = {};
        for (int line = 0; line < line_count; ++line)
            outputs_.lines[line] = session_.api.rsb(line);
        ++output_changes_;
    }
    if (restore_outputs_)
        restore_outputs();
}

void acquisition::restore_outputs()
{
    const asked_outputs asked = asked_;
    if (asked.pwm)
        set_analog(0, *asked.pwm, &output_state::pwm);
    if (asked.frequency)
        set_analog(1, *asked.frequency, &output_state::frequency);
    for (int line = 0; line < line_count; ++line)
        if (asked.lines[line])
            switch_line(line, *asked.lines[line]);
}

// Serves the output changes asked for while it waits.
bool acquisition::wait_for_slot(clock::time_point due)
{
    for (;;) {
        {
            std::unique_lock lock(wake_mutex_);
            wake_.wait_until(lock, due, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return false;
            if (jobs_.empty())
                return true;
        }
        serve_jobs();
    }
}

void acquisition::serve_jobs(bool make)
{
    std::deque<board_job> jobs;
    {
        std::lock_guard lock(wake_mutex_);
        jobs.swap(jobs_);
    }
    for (board_job &job : jobs)
        job(make);
}

std::optional<output_state> acquisition::on_loop_thread(std::function<output_state()> change)
{
    board_job job([&change](bool make) { return make ? std::optional(change()) : std::nullopt; });
    auto made = job.get_future();
    {
        // The state read under the lock that publish() refuses under: no job
        // slips in between a reload's start and its refusals.
        std::lock_guard lock(wake_mutex_);
        const board_state state = status().board;
        if (stopping_ || state == board_state::gone || state == board_state::loading)
            return std::nullopt;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
    return made.get();
}

std::pair<scan, int> acquisition::take_scan(clock::time_point began)
{
    std::pair<scan, int> taken{};
    taken.first.seconds = std::chrono::duration<double>(began - started_).count();
    for (int k = 0; k < input_count; ++k)
        if (const auto volts = host::answered_volts(session_, k)) {
            taken.first.volts[k] = *volts;
            ++taken.second;
        }
    return taken;
}

void acquisition::check_answer()
{
    const auto check = host::check_answer(session_);
    std::lock_guard data(data_mutex_);
    answer_ = check.result;
}

void acquisition::keep(const scan &taken)
{
    std::lock_guard lock(data_mutex_);
    history_[ring_index(taken_)] = taken;
    ++taken_;
    missing_ = false;
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

board_names acquisition::names() const
{
    std::lock_guard lock(data_mutex_);
    return names_;
}

output_state acquisition::outputs() const
{
    std::lock_guard lock(data_mutex_);
    return outputs_;
}

std::optional<output_state> acquisition::set_pwm(int duty)
{
    return on_loop_thread([this, duty] {
        asked_.pwm = duty;
        return set_analog(0, duty, &output_state::pwm);
    });
}

std::optional<output_state> acquisition::set_frequency(int value)
{
    return on_loop_thread([this, value] {
        asked_.frequency = value;
        return set_analog(1, value, &output_state::frequency);
    });
}

std::optional<output_state> acquisition::set_line(int line, bool on)
{
    return on_loop_thread([this, line, on] {
        asked_.lines[line] = on;
        return switch_line(line, on);
    });
}

output_state acquisition::set_analog(int channel, int value, int output_state::*kept)
{
    if (!follower_.driver_loaded()) // it failed to load again: not one entry point may be called
        return outputs();
    session_.api.sa(channel, value);
    std::lock_guard lock(data_mutex_);
    outputs_.*kept = value;
    ++output_changes_;
    return outputs_;
}

output_state acquisition::switch_line(int line, bool on)
{
    if (!follower_.driver_loaded())
        return outputs();
    session_.api.sb(line, on ? 1 : 0);
    const int read_back = session_.api.rsb(line);
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

// Formatted after the lock is left: an hour of rows takes over 100 ms.
std::optional<std::string> acquisition::recording_csv() const
{
    std::vector<scan> rows;
    board_names names;
    {
        std::lock_guard lock(data_mutex_);
        rows = recording_;
        names = names_;
    }
    if (rows.empty())
        return std::nullopt;
    std::string csv = tools::csv_header(column_titles(names.inputs));
    const double first = rows.front().seconds;
    for (const scan &row : rows)
        csv += tools::csv_line(row.seconds - first, fields_of(row.volts));
    return csv;
}

std::array<std::string, input_count>
acquisition::column_titles(const std::array<std::string, input_count> &names) const
{
    std::array<std::string, input_count> titles = names;
    for (int k = 0; k < input_count; ++k)
        if (units_[k])
            titles[k] = channels::column_title(*units_[k], names[k]);
    return titles;
}

std::array<std::string, input_count>
acquisition::fields_of(const std::array<double, input_count> &volts) const
{
    std::array<std::string, input_count> fields;
    for (int k = 0; k < input_count; ++k)
        fields[k] = units_[k] ? channels::value_text(*units_[k], volts[k]) : tools::csv_number(volts[k]);
    return fields;
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
    return {answer_, scan_rate_locked(), missed_, recording_state_, state_, since_, gaps_, reloads_};
}

std::string acquisition::unreachable_reason() const
{
    constexpr const char *reasons[] = {"the panel is stopping", "the panel is stopping",
                                       "the board is gone: plug it in again",
                                       "the driver is loading: try again in two seconds"};
    std::lock_guard lock(data_mutex_);
    return std::string(reasons[static_cast<int>(state_)]) + "; nothing was changed";
}

} // namespace vostrelle::panel
