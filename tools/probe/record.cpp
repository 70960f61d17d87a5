// vostrelle-probe record: chosen inputs on an absolute schedule, as CSV rows
// written as they are taken, with a summary of how well the schedule held.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <sys/prctl.h>
#include <unistd.h>

#include "probe.h"
#include "processes.h"
#include "schedule.h"
#include "stop_signals.h"

namespace vostrelle::probe {

namespace {

using clock_type = std::chrono::steady_clock;
using milliseconds = std::chrono::duration<double, std::milli>;

constexpr int analog_inputs = 8;
constexpr double default_interval_ms = 1000;

// What one conversion costs on a healthy board (settle delay, exchange and
// the host's wake-up), which sets the shortest interval a scan can keep.
struct reading_kind {
    const char *unit;
    double cost_ms;
    vostrelle_nea_fn host::entry_points::*name_of;
};

constexpr reading_kind counts_kind{"counts", 1.1, &host::entry_points::nea};
constexpr reading_kind volts_kind{"volts", 2.2, &host::entry_points::nead};

std::string format(const char *pattern, double value)
{
    char text[64];
    (void)std::snprintf(text, sizeof text, pattern, value); // 64 bytes hold any of these numbers
    return text;
}

std::string value_text(session &s, bool counts, int channel)
{
    return counts ? std::to_string(s.api.ea(channel)) : format("%.6f", s.api.ead(channel));
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

void print_summary(const schedule_log &log, const record_plan &plan)
{
    const double asked = milliseconds(plan.interval).count();
    const double mean =
        log.rows > 1 ? milliseconds(log.last - log.first).count() / static_cast<double>(log.rows - 1) : 0;
    std::cerr << "record: " << log.rows << " scans, " << log.missed << " slots missed, mean period "
              << format("%.3f", mean) << " ms (schedule " << format("%.3f", asked) << " ms)\n"
              << "start-time error against the schedule: p50 " << format("%.3f", percentile(log.lateness_ms, 0.5))
              << " ms, p99 " << format("%.3f", percentile(log.lateness_ms, 0.99)) << " ms, max "
              << format("%.3f", percentile(log.lateness_ms, 1.0)) << " ms\n";
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
        std::cerr << "note: no plot: gnuplot is not installed (apt install gnuplot-nox); the recording is complete\n";
        return;
    }
    const std::string source = plan.plot_source.empty() ? plan.output : plan.plot_source;
    std::ostringstream script;
    script << "set datafile separator ','; set terminal pngcairo size 1000,560 font 'sans,10' noenhanced; "
           << "set output " << gnuplot_quoted(plan.plot) << "; set key outside right top autotitle columnheader; "
           << "set grid; set xlabel 'seconds'; set ylabel '" << (plan.counts ? "count" : "volts") << "'; "
           << "plot for [i=2:" << plan.channels.size() + 1 << "] " << gnuplot_quoted(source)
           << " using 1:i with lines lw 1.5";
    const auto status = tools::status_of({*gnuplot, "-e", script.str()});
    if (status == 0)
        std::cerr << "plot: " << plan.plot << "\n";
    else
        std::cerr << "note: no plot: gnuplot failed on " << plan.plot << "; the recording is complete\n";
}

} // namespace

std::optional<record_plan> plan_recording(const record_options &options)
{
    record_plan plan;
    plan.counts = options.counts;
    plan.output = options.output;
    plan.plot = options.plot;
    plan.channels = options.channels;
    if (plan.channels.empty())
        for (int channel = 0; channel < analog_inputs; ++channel)
            plan.channels.push_back(channel);
    auto sorted = plan.channels;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
        refuse("each channel may be named once");
        return std::nullopt;
    }

    const double interval_ms = options.rate_hz > 0   ? 1000 / options.rate_hz
                               : options.interval_ms > 0 ? options.interval_ms
                                                         : default_interval_ms;
    const reading_kind &kind = plan.counts ? counts_kind : volts_kind;
    const double shortest_ms = kind.cost_ms * static_cast<double>(plan.channels.size());
    if (interval_ms < shortest_ms) {
        refuse("a scan of " + std::to_string(plan.channels.size()) + " inputs in " + kind.unit +
                      " takes about " + format("%.1f", shortest_ms) + " ms (" + format("%.1f", kind.cost_ms) +
                      " ms each, more on a board that is slow to answer); the shortest interval is " +
                      format("%.1f", shortest_ms) + " ms, a rate of at most " +
                      format("%.1f", 1000 / shortest_ms) + " Hz");
        return std::nullopt;
    }
    plan.interval = std::chrono::duration_cast<clock_type::duration>(milliseconds(interval_ms));
    plan.slots = slots_of(options, interval_ms);
    return plan;
}

int run_record(session &s, record_plan &plan)
{
    const reading_kind &kind = plan.counts ? counts_kind : volts_kind;
    std::string header = "seconds";
    for (const int channel : plan.channels)
        header += std::string(",") + (s.api.*kind.name_of)(channel);
    bool written = write_line(plan, header + "\n");

    // Wake at the slot itself, not up to the default 50 us of timer slack later.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    schedule_log log;
    int stopped_by = 0;
    tools::schedule schedule{clock_type::now(), plan.interval};
    while (written && (!plan.slots || schedule.slot < *plan.slots)) {
        const auto due = schedule.due();
        if ((stopped_by = tools::sleep_until_or_stop(due)))
            break;
        const auto began = clock_type::now();
        if (const long long behind = schedule.over_at(began)) { // on to the slot we are in
            const long long counted = plan.slots ? std::min(behind, *plan.slots - schedule.slot) : behind;
            log.missed += counted;
            schedule.slot += counted;
            continue;
        }
        if (log.rows == 0)
            log.first = began;
        std::string row = format("%.6f", std::chrono::duration<double>(began - log.first).count());
        for (const int channel : plan.channels)
            row += "," + value_text(s, plan.counts, channel);
        written = write_line(plan, row + "\n");
        log.lateness_ms.push_back(milliseconds(began - due).count());
        log.last = began;
        ++log.rows;
        ++schedule.slot;
    }
    for (FILE *sink : plan.sinks)
        if (sink != stdout)
            written = std::fclose(sink) == 0 && written;
    if (!written)
        std::cerr << "vostrelle-probe record: cannot write " << (plan.output == "-" ? "standard output" : plan.output)
                  << ": " << std::strerror(errno) << "; the rows before are kept\n";
    if (stopped_by)
        std::cerr << "record: stopped by SIG" << sigabbrev_np(stopped_by) << "\n";
    print_summary(log, plan);
    if (!plan.plot.empty() && log.rows > 0)
        plot(plan);
    if (!plan.plot_source.empty())
        unlink(plan.plot_source.c_str());
    return written ? 0 : 1;
}

} // namespace vostrelle::probe
