// The panel's one acquisition loop: every input in volts on an absolute
// schedule, whatever the number of pages open; the outputs, set and read back
// through it; the recording, taken from the same scans.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "board.h"
#include "board_follower.h"
#include "channel_file.h"
#include "schedule.h"
#include "session.h"

namespace vostrelle::panel {

using tools::board::input_count;

// Each input's channel from the channel file, nothing where it names none.
using input_channels = std::array<std::optional<channels::channel>, input_count>;
using tools::board::line_count;

struct scan {
    double seconds = 0; // since the panel started
    std::array<double, input_count> volts{};
};

struct output_state {
    int pwm = 0;                         // the last value set: the board does not read it back
    int frequency = 0;                   // likewise
    std::array<int, line_count> lines{}; // the driver's read-back (rsb)
};

struct recording_state {
    bool on = false;
    long long rows = 0;
    bool full = false; // stopped at the length limit
};

using host::board_state;

struct board_status {
    host::answer answer = host::answer::none;
    double scan_rate = 0; // scans a second, over the last second
    long long missed = 0; // slots skipped since the start
    recording_state recording;
    board_state board = board_state::answering;
    std::time_t since = 0; // when the board fell silent or went; 0 while it answers
    long long gaps = 0;    // runs of missed slots after a scan was kept
    long long reloads = 0; // of the driver, after the board came back
};

// What the driver calls everything, read once at the start.
struct board_names {
    std::string title;
    std::array<std::string, input_count> inputs; // in volts
    std::array<std::string, line_count> lines;
};

class acquisition {
public:
    using clock = std::chrono::steady_clock;

    static constexpr auto interval = std::chrono::milliseconds(40);
    static constexpr auto history_length = std::chrono::minutes(10);
    static constexpr auto recording_limit = std::chrono::hours(1);

    // With `restore_outputs`, the outputs set through the panel are set
    // again whenever the driver is loaded again (the board was unplugged and
    // has reset them); without, they are shown as the board has them.
    // `program` names the tool in the messages about the board.
    acquisition(host::session &session, bool restore_outputs, std::string program = "vostrelle-panel");
    ~acquisition();
    acquisition(const acquisition &) = delete;
    acquisition &operator=(const acquisition &) = delete;

    // Starts the loop; `on_scan` runs on its thread after every scan.
    void start(std::function<void()> on_scan);
    void stop();

    board_names names() const; // read again with the driver

    // Scans are numbered from 0. Those from `first` on that the history still
    // holds; `first` becomes the number of the next scan to come.
    std::vector<scan> scans_from(std::uint64_t &first) const;
    // The number of the oldest held scan taken within the last `seconds`.
    std::uint64_t first_within(double seconds) const;

    // The changes are made by the loop's thread between scans (the driver is
    // called from that one thread only); the caller waits for them. Nothing
    // when the board cannot take them.
    output_state outputs() const;
    std::optional<output_state> set_pwm(int duty);
    std::optional<output_state> set_frequency(int value);
    std::optional<output_state> set_line(int line, bool on);
    std::uint64_t output_changes() const;   // counts every change, for the pages to follow
    std::string unreachable_reason() const; // why a change was not made

    bool start_recording(); // false: one is running
    bool stop_recording();  // false: none is running
    // The last recording as CSV (names in the header), while or after it runs.
    std::optional<std::string> recording_csv() const;
    // Inputs the channel file names are recorded in their units (before start).
    void record_in_units(const input_channels &inputs) { units_ = inputs; }

    board_status status() const;

private:
    std::array<std::string, input_count>
    column_titles(const std::array<std::string, input_count> &names) const;
    std::array<std::string, input_count> fields_of(const std::array<double, input_count> &volts) const;
    // Called with true it makes its change; with false it is refused (nothing).
    using board_job = std::packaged_task<std::optional<output_state>(bool)>;

    // The last values set through the panel, for --restore-outputs.
    struct asked_outputs {
        std::optional<int> pwm, frequency;
        std::array<std::optional<bool>, line_count> lines;
    };

    void run();
    bool scan_slot(tools::schedule &schedule);
    bool wait_for_slot(clock::time_point due); // false: stopping
    void count_missed(long long slots);
    void publish(const host::state_change &change);
    void after_reload();
    void restore_outputs();
    void serve_jobs(bool make = true);
    std::optional<output_state> on_loop_thread(std::function<output_state()> change);
    // A scan, and how many of its conversions got the board's reply.
    std::pair<scan, int> take_scan(clock::time_point began);
    void keep(const scan &taken);
    void check_answer();
    // sa(channel, value), kept as the read-back the board does not give.
    output_state set_analog(int channel, int value, int output_state::*kept);
    output_state switch_line(int line, bool on);
    double scan_rate_locked() const;
    std::size_t ring_index(std::uint64_t number) const; // where scan `number` is kept

    host::session &session_;
    const bool restore_outputs_;
    const std::string program_;
    asked_outputs asked_; // used by the loop's thread alone, as the driver is
    board_names names_;   // under data_mutex_, from the first reload on

    mutable std::mutex data_mutex_;
    std::vector<scan> history_; // a ring of history_length
    std::uint64_t taken_ = 0;
    long long missed_ = 0;
    long long gaps_ = 0, reloads_ = 0;
    bool missing_ = false; // the last slot was missed
    output_state outputs_;
    std::uint64_t output_changes_ = 0;
    std::vector<scan> recording_;
    input_channels units_;
    recording_state recording_state_;
    host::answer answer_ = host::answer::none;
    board_state state_ = board_state::answering;
    std::time_t since_ = 0;

    // After the data it reports its first state into. Used by the loop's thread alone.
    host::board_follower follower_;

    std::function<void()> on_scan_;
    std::mutex wake_mutex_; // the loop waits for its slot, a job or the stop
    std::condition_variable wake_;
    std::deque<board_job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
    clock::time_point started_ = clock::now();
};

} // namespace vostrelle::panel
