// vostrelle-probe record: chosen inputs on an absolute schedule, as CSV rows
// written as they are taken, with a summary of how well the schedule held.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <sstream>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

#include "board.h"
#include "board_follower.h"
#include "board_rows.h"
#include "csv.h"
#include "probe.h"
#include "processes.h"
#include "schedule.h"
#include "shown.h"
#include "stop_signals.h"
#include "text.h"

namespace vostrelle::probe {

namespace {

using clock_type = std::chrono::steady_clock;
using milliseconds = std::chrono::duration<double, std::milli>;

constexpr double default_interval_ms = 1000;

// What one conversion costs sets the shortest interval a scan can keep.
struct reading_kind {
    const char *unit;
    double cost_ms;
    vostrelle_nea_fn host::entry_points::*name_of;
};

constexpr reading_kind counts_kind{"counts", tools::board::count_conversion_ms, &host::entry_points::nea};
constexpr reading_kind volts_kind{"volts", tools::board::volts_conversion_ms, &host::entry_points::nead};

using tools::formatted;

// One input's value as the CSV writes it (in the file's unit where it names
// the input); nothing when the board did not reply.
std::optional<std::string> value_text(session &s, const record_plan &plan, std::size_t board, int channel)
{
    if (plan.counts) {
        const auto count = host::answered_count(s, channel);
        return count ? std::optional(std::to_string(*count)) : std::nullopt;
    }
    const auto volts = host::answered_volts(s, channel);
    if (!volts)
        return std::nullopt;
    const auto &named = plan.shown[board][static_cast<std::size_t>(channel)];
    return named ? channels::value_text(*named, *volts) : tools::csv_number(*volts);
}

std::optional<long long> slots_of(const record_options &options, double interval_ms)
{
    if (options.count > 0)
        return options.count;
    if (options.duration_s > 0)
        return static_cast<long long>(std::ceil(options.duration_s * 1000 / interval_ms - 1e-9));
    return std::nullopt; // until stopped
}

bool refuse(const std::string &why)
{
    std::cerr << "vostrelle-probe record: " << why << "\n";
    return false;
}

} // namespace

bool open_record_outputs(record_plan &plan)
{
    if (plan.output == "-") {
        plan.sinks.push_back(stdout);
    } else if (FILE *file = std::fopen(plan.output.c_str(), "w")) {
        plan.sinks.push_back(file);
    } else {
        return refuse("cannot write " + plan.output + ": " + std::strerror(errno));
    }
    if (plan.plot.empty() || plan.output != "-")
        return true;
    // Standard output cannot be read back: keep a copy of the rows to plot.
    char copy[] = "/tmp/vostrelle-record-XXXXXX";
    const int fd = mkstemp(copy);
    if (fd < 0)
        return refuse(std::string("cannot keep a copy of the rows to plot: ") + std::strerror(errno));
    plan.plot_source = copy;
    plan.sinks.push_back(fdopen(fd, "w"));
    return true;
}

namespace {

// Writes one whole line to every sink and flushes it, so that a stop at any
// moment leaves a well-formed file.
bool write_line(const record_plan &plan, const std::string &line)
{
    for (FILE *sink : plan.sinks)
        if (std::fputs(line.c_str(), sink) < 0 || std::fflush(sink) != 0)
            return false;
    return true;
}

struct schedule_log {
    long long rows = 0;
    long long missed = 0;
    clock_type::time_point first, last;
    std::vector<double> lateness_ms;
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    const auto at = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size()))) - 1;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
    return values[at];
}

// `label`: "" for one board, "LABEL: " for each of several.
void print_summary(const schedule_log &log, const record_plan &plan, const std::string &label)
{
    const double asked = milliseconds(plan.interval).count();
    const double mean =
        log.rows > 1 ? milliseconds(log.last - log.first).count() / static_cast<double>(log.rows - 1) : 0;
    std::cerr << "record: " << label << log.rows << " scans, " << log.missed << " slots missed, mean period "
              << formatted("%.3f", mean) << " ms (schedule " << formatted("%.3f", asked) << " ms)\n"
              << label << "start-time error against the schedule: p50 "
              << formatted("%.3f", percentile(log.lateness_ms, 0.5)) << " ms, p99 "
              << formatted("%.3f", percentile(log.lateness_ms, 0.99)) << " ms, max "
              << formatted("%.3f", percentile(log.lateness_ms, 1.0)) << " ms\n";
}

std::string gnuplot_quoted(const std::string &text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// A PNG chart of the rows with gnuplot; a note, not a failure, without it.
void plot(const record_plan &plan)
{
    const auto gnuplot = tools::program_in_path("gnuplot");
    if (!gnuplot) {
        std::cerr << "note: no plot: gnuplot is not installed (apt install gnuplot-nox); the recording is "
                     "complete\n";
        return;
    }
    const std::string source = plan.plot_source.empty() ? plan.output : plan.plot_source;
    std::ostringstream script;
    script << "set datafile separator ','; set terminal pngcairo size 1000,560 font 'sans,10' noenhanced; "
           << "set output " << gnuplot_quoted(plan.plot)
           << "; set key outside right top autotitle columnheader; "
           << "set grid; set xlabel 'seconds'; set ylabel '" << (plan.counts ? "count" : "volts") << "'; "
           << "plot for [i=2:" << plan.channels.size() * plan.boards + 1 << "] " << gnuplot_quoted(source)
           << " using 1:i with lines lw 1.5";
    const auto status = tools::status_of({*gnuplot, "-e", script.str()});
    if (status == 0)
        std::cerr << "plot: " << plan.plot << "\n";
    else
        std::cerr << "note: no plot: gnuplot failed on " << plan.plot << "; the recording is complete\n";
}

} // namespace

namespace {

// The channels asked for (all when none is), or nothing when one is named twice.
std::optional<std::vector<int>> channels_of(const record_options &options)
{
    std::vector<int> channels = options.channels;
    if (channels.empty())
        for (int channel = 0; channel < tools::board::input_count; ++channel)
            channels.push_back(channel);
    auto sorted = channels;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return std::nullopt;
    return channels;
}

std::optional<std::string> named_twice(std::vector<std::string> devices)
{
    std::sort(devices.begin(), devices.end());
    const auto twice = std::adjacent_find(devices.begin(), devices.end());
    return twice == devices.end() ? std::nullopt : std::optional(*twice);
}

// False, with the reason, when a scan of `channels` cannot keep the interval.
bool interval_kept(double interval_ms, std::size_t channels, const reading_kind &kind)
{
    const double shortest_ms = kind.cost_ms * static_cast<double>(channels);
    if (interval_ms >= shortest_ms)
        return true;
    return refuse("a scan of " + std::to_string(channels) + " inputs in " + kind.unit + " takes about " +
                  formatted("%.1f", shortest_ms) + " ms (" + formatted("%.1f", kind.cost_ms) +
                  " ms each, more on a board that is slow to answer); the shortest interval is " +
                  formatted("%.1f", shortest_ms) + " ms, a rate of at most " +
                  formatted("%.1f", 1000 / shortest_ms) + " Hz");
}

} // namespace

std::optional<record_plan> plan_recording(const record_options &options)
{
    const auto channels = channels_of(options);
    if (!channels) {
        refuse("each channel may be named once");
        return std::nullopt;
    }
    if (const auto twice = named_twice(options.devices)) {
        refuse("each board may be named once; " + *twice + " is named twice");
        return std::nullopt;
    }
    const double interval_ms = options.rate_hz > 0       ? 1000 / options.rate_hz
                               : options.interval_ms > 0 ? options.interval_ms
                                                         : default_interval_ms;
    if (!interval_kept(interval_ms, channels->size(), options.counts ? counts_kind : volts_kind))
        return std::nullopt;
    record_plan plan;
    plan.channels = *channels;
    plan.counts = options.counts;
    plan.output = options.output;
    plan.plot = options.plot;
    plan.devices = options.devices;
    plan.boards = std::max<std::size_t>(options.devices.size(), 1);
    plan.interval = std::chrono::duration_cast<clock_type::duration>(milliseconds(interval_ms));
    plan.slots = slots_of(options, interval_ms);
    return plan;
}

namespace {

// Board threads sleep to their slots here; the main thread alone takes the
// stop signals and wakes them.
class shared_stop {
public:
    int sleep_until(clock_type::time_point deadline)
    {
        constexpr auto last_stretch = std::chrono::milliseconds(2); // a condition wakes late
        {
            std::unique_lock lock(mutex_);
            if (woken_.wait_until(lock, deadline - last_stretch, [this] { return signal_ != 0; }))
                return signal_;
        }
        const auto since_epoch =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch());
        const timespec at{static_cast<time_t>(since_epoch.count() / 1000000000),
                          static_cast<long>(since_epoch.count() % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {}
        const std::scoped_lock lock(mutex_);
        return signal_;
    }

    void stop(int signal)
    {
        const std::scoped_lock lock(mutex_);
        signal_ = signal;
        woken_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable woken_;
    int signal_ = 0;
};

using sleeper = std::function<int(clock_type::time_point)>;

struct scan_loop {
    scan_loop(session &on, const record_plan &planned, board_rows &merged, std::size_t board, sleeper sleep)
        : s(on), plan(planned), rows(merged), index(board), sleep_until(std::move(sleep)),
          follower(on, [&on](const host::state_change &change) {
              std::cerr << "record: " + host::change_text(change, on.device) + "\n";
          })
    {
    }

    session &s;
    const record_plan &plan;
    board_rows &rows;
    std::size_t index;
    sleeper sleep_until;
    schedule_log log;
    tools::schedule schedule{{}, plan.interval}; // starts when run() does
    host::board_follower follower;
    int stopped_by = 0;

    bool more() const { return rows.written() && (!plan.slots || schedule.slot < *plan.slots); }

    std::optional<clock_type::time_point> end() const
    {
        if (!plan.slots)
            return std::nullopt;
        return schedule.start + *plan.slots * plan.interval;
    }

    // Skips the slots already over at `now`; false when there were none.
    bool skip_missed(clock_type::time_point now)
    {
        const bool behind = schedule.over_at(now) > 0;
        log.missed += schedule.skip_over(now, plan.slots);
        return behind;
    }

    void miss_slot()
    {
        ++log.missed;
        ++schedule.slot;
    }

    // The slot's due time, or later while the board is gone or silent (never
    // beyond the end, so that the recording ends on time).
    clock_type::time_point wake_time() const
    {
        const auto wake = std::max(schedule.due(), follower.next_call());
        const auto last = end();
        return last ? std::min(wake, *last) : wake;
    }

    void scan(clock_type::time_point began, clock_type::time_point due)
    {
        std::vector<std::string> values;
        for (const int channel : plan.channels)
            if (const auto value = value_text(s, plan, index, channel))
                values.push_back(*value);
        if (!follower.answered(static_cast<int>(values.size()), static_cast<int>(plan.channels.size())))
            return miss_slot(); // a reply missed: no row of stale values
        if (log.rows == 0)
            log.first = began;
        rows.scanned(index, schedule.slot, began, std::move(values));
        log.lateness_ms.push_back(milliseconds(began - due).count());
        log.last = began;
        ++log.rows;
        ++schedule.slot;
    }

    void run(clock_type::time_point start)
    {
        // Wake at the slot itself, not up to the default 50 us of timer slack later.
        prctl(PR_SET_TIMERSLACK, 1000UL);
        schedule.start = start;
        while (more()) {
            rows.passed(index, schedule.slot);
            const auto due = schedule.due();
            if ((stopped_by = sleep_until(wake_time())))
                break;
            if (skip_missed(clock_type::now()) || !more()) // else on to the slot we are in
                continue;
            const bool ready = follower.ready(end());
            if (skip_missed(clock_type::now())) // a reload takes seconds
                continue;
            if (!ready)
                miss_slot();
            else
                scan(clock_type::now(), due);
        }
        rows.passed(index, std::numeric_limits<long long>::max());
    }
};

std::vector<std::string> labels_of(const std::vector<session> &boards)
{
    std::vector<std::string> devices(boards.size());
    std::transform(boards.begin(), boards.end(), devices.begin(), [](const session &s) { return s.device; });
    return board_labels(devices);
}

// Columns are named as the driver names the inputs, or with the unit where
// the channel file names them; several boards' are prefixed with the board:
// "ttyACM0:EA0(PA0)0..5V", "ttyACM1:bath temperature (°C)".
std::string header_of(std::vector<session> &boards, const record_plan &plan)
{
    const reading_kind &kind = plan.counts ? counts_kind : volts_kind;
    const auto labels = labels_of(boards);
    std::vector<std::string> names;
    for (std::size_t board = 0; board < boards.size(); ++board)
        for (const int channel : plan.channels) {
            const std::string driver_name = (boards[board].api.*kind.name_of)(channel);
            const auto &named = plan.shown[board][static_cast<std::size_t>(channel)];
            const std::string title =
                named && !plan.counts ? channels::column_title(*named, driver_name) : driver_name;
            names.push_back(boards.size() > 1 ? labels[board] + ":" + title : title);
        }
    return tools::csv_header(names);
}

const char *trouble_name(host::board_state cause)
{
    return cause == host::board_state::silent ? "silent" : "gone";
}

// Each stretch without readings, in wall-clock time and in the first
// column's seconds, when there was one.
void print_gaps(const scan_loop &loop, const std::string &label)
{
    const auto &gaps = loop.follower.machine().gaps();
    if (gaps.empty())
        return;
    const auto origin = loop.rows.first().value_or(loop.schedule.start);
    const auto seconds = [origin](const host::moment &at) {
        // A board gone at the start was found before the schedule began.
        return formatted("%.3f", std::max(0.0, std::chrono::duration<double>(at.steady - origin).count()));
    };
    const int reloads = loop.follower.machine().reloads();
    std::cerr << "record: " << label << gaps.size() << (gaps.size() == 1 ? " gap" : " gaps")
              << " without readings; the driver was loaded again " << reloads
              << (reloads == 1 ? " time\n" : " times\n");
    for (const auto &gap : gaps) {
        std::cerr << "  board " << trouble_name(gap.cause) << " from " << host::clock_text(gap.start.wall);
        if (gap.end)
            std::cerr << " to " << host::clock_text(gap.end->wall) << " (seconds " << seconds(gap.start)
                      << " to " << seconds(*gap.end) << ")\n";
        else
            std::cerr << " to the end (seconds " << seconds(gap.start) << " on)\n";
    }
}

// Closes the files (standard output stays open); false when a row or the
// close failed.
bool close_outputs(const record_plan &plan, bool written)
{
    for (FILE *sink : plan.sinks)
        if (sink != stdout)
            written = std::fclose(sink) == 0 && written;
    if (!written)
        std::cerr << "vostrelle-probe record: cannot write "
                  << (plan.output == "-" ? "standard output" : plan.output) << ": " << std::strerror(errno)
                  << "; the rows before are kept\n";
    return written;
}

} // namespace

namespace {

// Each board on its own thread, the main one waiting for a stop signal.
int run_boards(std::vector<std::unique_ptr<scan_loop>> &loops, clock_type::time_point start,
               shared_stop &stop)
{
    if (loops.size() == 1) {
        loops.front()->run(start);
        return loops.front()->stopped_by;
    }
    std::atomic<std::size_t> running = loops.size();
    std::vector<std::jthread> threads;
    threads.reserve(loops.size());
    for (auto &loop : loops)
        threads.emplace_back([&loop, &running, start] {
            loop->run(start);
            --running;
        });
    int stopped_by = 0;
    while (running > 0 && !stopped_by)
        stopped_by = tools::wait_for_stop(std::chrono::milliseconds(50));
    stop.stop(stopped_by);
    return stopped_by; // once every thread has seen it
}

void print_summaries(const std::vector<std::unique_ptr<scan_loop>> &loops, const std::vector<session> &boards,
                     const record_plan &plan)
{
    const auto labels = labels_of(boards);
    for (std::size_t board = 0; board < loops.size(); ++board) {
        const std::string label = boards.size() > 1 ? labels[board] + ": " : "";
        print_summary(loops[board]->log, plan, label);
        print_gaps(*loops[board], label);
    }
}

} // namespace

int run_record(std::vector<session> &boards, record_plan &plan)
{
    board_rows rows(boards.size(), plan.channels.size(),
                    [&plan](const std::string &line) { return write_line(plan, line); });
    shared_stop stop;
    const sleeper sleep = boards.size() == 1
                              ? sleeper(tools::sleep_until_or_stop)
                              : [&stop](clock_type::time_point at) { return stop.sleep_until(at); };
    std::vector<std::unique_ptr<scan_loop>> loops;
    for (std::size_t board = 0; board < boards.size(); ++board)
        loops.push_back(std::make_unique<scan_loop>(boards[board], plan, rows, board, sleep));
    const bool header_written = write_line(plan, header_of(boards, plan));
    const int stopped_by = header_written ? run_boards(loops, clock_type::now(), stop) : 0;
    const bool written = close_outputs(plan, header_written && rows.written());
    if (stopped_by)
        std::cerr << "record: stopped by SIG" << sigabbrev_np(stopped_by) << "\n";
    print_summaries(loops, boards, plan);
    if (!plan.plot.empty() && rows.first())
        plot(plan);
    if (!plan.plot_source.empty())
        unlink(plan.plot_source.c_str());
    return written ? 0 : 1;
}

} // namespace vostrelle::probe
