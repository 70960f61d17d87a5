// How long each call of the real libvostrelle.so takes against a simulated
// board that answers at once, one that is silent and one that answers late;
// its CPU time and system calls per call; and how long loading takes.
//
// vostrelle_bench LIBRARY OUT-DIR [--quick] [--peer SCRIPT]
// Writes OUT-DIR/results.md (the table), OUT-DIR/latency-<case>.dat (one
// latency in ms per line) and prints the table.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "device_redirect.h"
#include "entry_points.h"
#include "simulated_board.h"

namespace {

using namespace vostrelle;
using steady = std::chrono::steady_clock;

// System calls the driver makes, counted on the calling thread only (the
// simulated board's thread makes its own).
thread_local bool counting = false;
std::atomic<long> system_calls{0};

template <typename T> T next_symbol(const char *name)
{
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, name));
}

void count_one()
{
    if (counting)
        ++system_calls;
}

struct summary {
    std::string name;
    int calls = 0;
    double p50 = 0, p90 = 0, p99 = 0, max = 0; // ms
    double cpu_us = 0;                         // per call
    double syscalls = 0;                       // per call
    double floor_ms = 0;                       // 0: none
    double window_high_ms = 0;                 // silent board: upper end of the stated window
};

double percentile(std::vector<double> sorted, double p)
{
    std::sort(sorted.begin(), sorted.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

double thread_cpu_seconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

summary summarise(const std::string &name, int calls, const std::vector<double> &ms, double cpu_seconds)
{
    summary s;
    s.name = name;
    s.calls = calls;
    s.p50 = percentile(ms, 0.50);
    s.p90 = percentile(ms, 0.90);
    s.p99 = percentile(ms, 0.99);
    s.max = *std::max_element(ms.begin(), ms.end());
    s.cpu_us = cpu_seconds * 1e6 / calls;
    s.syscalls = static_cast<double>(system_calls) / calls;
    return s;
}

// Sleeps a pseudo-random 0..999 us, untimed, so that calls start at any
// point of the driver's millisecond clock, as a host's periodic calls do.
void random_phase()
{
    static std::uint32_t state = 12345;
    state = state * 1664525u + 1013904223u;
    const timespec pause{0, static_cast<long>((state >> 8) % 1000) * 1000L};
    nanosleep(&pause, nullptr);
}

// Times `calls` calls one by one; the latencies go to `dat` when named.
summary measure(const std::string &name, int calls, const std::function<void()> &call, const std::string &dat,
                bool spaced = false)
{
    std::vector<double> ms;
    ms.reserve(static_cast<std::size_t>(calls));
    system_calls = 0;
    const double cpu_start = thread_cpu_seconds();
    counting = true;
    for (int i = 0; i < calls; ++i) {
        if (spaced) {
            counting = false;
            random_phase();
            counting = true;
        }
        const auto start = steady::now();
        call();
        ms.push_back(std::chrono::duration<double, std::milli>(steady::now() - start).count());
    }
    counting = false;
    const summary s = summarise(name, calls, ms, thread_cpu_seconds() - cpu_start);
    if (!dat.empty()) {
        std::ofstream out(dat);
        for (const double v : ms)
            out << v << "\n";
    }
    return s;
}

// Name calls are too short to time one by one: time batches instead.
summary measure_fast(const std::string &name, int calls, const std::function<void()> &call)
{
    constexpr int batch = 1000;
    std::vector<double> per_call_ms;
    system_calls = 0;
    const double cpu_start = thread_cpu_seconds();
    counting = true;
    for (int done = 0; done < calls; done += batch) {
        const auto start = steady::now();
        for (int i = 0; i < batch; ++i)
            call();
        per_call_ms.push_back(std::chrono::duration<double, std::milli>(steady::now() - start).count() /
                              batch);
    }
    counting = false;
    return summarise(name + " (batches of 1000)", calls, per_call_ms, thread_cpu_seconds() - cpu_start);
}

std::string format_ms(double ms)
{
    char text[32];
    if (ms < 0.001)
        std::snprintf(text, sizeof text, "%.1f ns", ms * 1e6);
    else
        std::snprintf(text, sizeof text, "%.3f ms", ms);
    return text;
}

std::string table(const std::vector<summary> &rows)
{
    std::ostringstream out;
    out << "| case | calls | p50 | p90 | p99 | max | CPU/call | syscalls/call | against the floor |\n"
        << "|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
    for (const auto &r : rows) {
        char cpu[32], sys[32];
        std::snprintf(cpu, sizeof cpu, r.cpu_us < 0 ? "n/a" : "%.2f us", r.cpu_us);
        std::snprintf(sys, sizeof sys, r.cpu_us < 0 ? "n/a" : "%.1f", r.syscalls);
        std::string floor = "";
        if (r.window_high_ms > 0) {
            const auto where = [&](double ms) {
                return ms < r.floor_ms ? "below" : ms <= r.window_high_ms ? "inside" : "above";
            };
            char text[96];
            std::snprintf(text, sizeof text, "window %.0f-%.0f ms: p50 %s, p99 %s", r.floor_ms,
                          r.window_high_ms, where(r.p50), where(r.p99));
            floor = text;
        } else if (r.floor_ms > 0) {
            char text[96];
            std::snprintf(text, sizeof text, "settle %.0f ms: p50 +%.1f%%, p99 +%.1f%%", r.floor_ms,
                          (r.p50 / r.floor_ms - 1) * 100, (r.p99 / r.floor_ms - 1) * 100);
            floor = text;
        }
        out << "| " << r.name << " | " << r.calls << " | " << format_ms(r.p50) << " | " << format_ms(r.p90)
            << " | " << format_ms(r.p99) << " | " << format_ms(r.max) << " | " << cpu << " | " << sys << " | "
            << floor << " |\n";
    }
    return out.str();
}

} // namespace

// The driver's system calls pass through here on their way to the C library.
extern "C" {
int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    count_one();
    static const auto real = next_symbol<int (*)(int, unsigned long, void *)>("ioctl");
    return real(fd, request, argument);
}
ssize_t read(int fd, void *buffer, size_t size)
{
    count_one();
    static const auto real = next_symbol<ssize_t (*)(int, void *, size_t)>("read");
    return real(fd, buffer, size);
}
ssize_t write(int fd, const void *buffer, size_t size)
{
    count_one();
    static const auto real = next_symbol<ssize_t (*)(int, const void *, size_t)>("write");
    return real(fd, buffer, size);
}
int nanosleep(const timespec *request, timespec *remaining)
{
    count_one();
    static const auto real = next_symbol<int (*)(const timespec *, timespec *)>("nanosleep");
    return real(request, remaining);
}
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::cerr << "usage: vostrelle_bench LIBRARY OUT-DIR [--quick]\n";
        return 2;
    }
    const std::string library = argv[1], out = argv[2];
    bool quick = false;
    std::string peer;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "--quick")
            quick = true;
        else if (std::string(argv[i]) == "--peer" && i + 1 < argc)
            peer = argv[++i];
    }
    const int conversions = quick ? 200 : 2000, silent_conversions = quick ? 50 : 500;
    const int name_calls = quick ? 100000 : 1000000;

    sim::simulated_board board;
    board.set_recording(false);
    for (int k = 0; k < 8; ++k)
        board.set_input(k, static_cast<std::uint16_t>(100 * k + 11));
    redirect::lead_board_to(board.device_path());

    std::vector<summary> rows;
    const auto load_start = steady::now();
    void *handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    const double load_ms = std::chrono::duration<double, std::milli>(steady::now() - load_start).count();
    if (!handle) {
        std::cerr << dlerror() << "\n";
        return 1;
    }
    host::entry_points api{};
    if (!host::resolve(handle, api).empty())
        return 1;
    api.ea(0); // first exchange: page faults, and translation under an emulator

    const auto dat = [&](const std::string &name) { return out + "/latency-" + name + ".dat"; };
    // What the kernel's sleep alone costs: the settle delay's share.
    for (const int ms : {1, 2}) {
        auto bare = measure(
            "reference: nanosleep(" + std::to_string(ms) + " ms) alone", conversions,
            [&] {
                const timespec interval{0, ms * 1000000L};
                nanosleep(&interval, nullptr);
            },
            "");
        bare.floor_ms = ms;
        rows.push_back(bare);
    }
    auto row = measure(
        "ea, healthy board", conversions, [&] { api.ea(3); }, dat("ea-healthy"));
    row.floor_ms = 1;
    rows.push_back(row);
    row = measure(
        "ead, healthy board", conversions, [&] { api.ead(3); }, dat("ead-healthy"));
    row.floor_ms = 2;
    rows.push_back(row);

    board.set_mode(sim::fault_mode::late);
    board.set_late_delay(std::chrono::microseconds(1500));
    rows.push_back(measure(
        "ea, board answering after 1.5 ms", conversions, [&] { api.ea(3); }, dat("ea-late")));
    board.set_late_delay(std::chrono::microseconds(3000));
    rows.push_back(measure(
        "ead, board answering after 3 ms", conversions, [&] { api.ead(3); }, dat("ead-late")));

    // Back to back, each call starts just after a tick of the millisecond
    // clock and its waits run to their longest; spaced calls start anywhere.
    board.set_mode(sim::fault_mode::silent);
    for (const bool spaced : {true, false}) {
        const std::string how = spaced ? "silent board" : "silent board, back to back";
        row = measure(
            "ea, " + how, silent_conversions, [&] { api.ea(3); }, spaced ? dat("ea-silent") : "", spaced);
        row.floor_ms = 3;
        row.window_high_ms = 5;
        rows.push_back(row);
        row = measure(
            "ead, " + how, silent_conversions, [&] { api.ead(3); }, spaced ? dat("ead-silent") : "", spaced);
        row.floor_ms = 6;
        row.window_high_ms = 8;
        rows.push_back(row);
    }
    board.set_mode(sim::fault_mode::healthy);

    // The settle delay's overshoot is mostly the kernel's timer slack (50 us
    // by default), which belongs to the host's thread; a host may lower it.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    row = measure(
        "ea, healthy board, host timer slack 1 us", conversions, [&] { api.ea(3); }, "");
    row.floor_ms = 1;
    rows.push_back(row);
    row = measure(
        "ead, healthy board, host timer slack 1 us", conversions, [&] { api.ead(3); }, "");
    row.floor_ms = 2;
    rows.push_back(row);
    prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);

    rows.push_back(measure(
        "sa (PWM, 2-byte command)", conversions, [&] { api.sa(0, 128); }, ""));
    rows.push_back(measure(
        "sb (digital line)", conversions, [&] { api.sb(3, 1); }, ""));
    rows.push_back(measure_fast("nea", name_calls, [&] { api.nea(3); }));
    rows.push_back(measure_fast("detail", name_calls, [&] { api.detail(); }));
    rows.push_back(measure_fast("rsb", name_calls, [&] { api.rsb(3); }));
    rows.push_back(
        measure_fast("sbdouble (rounding, no board traffic)", name_calls, [&] { api.sbdouble(8.0, 2.5); }));

    const auto unload_start = steady::now();
    dlclose(handle);
    const double unload_ms = std::chrono::duration<double, std::milli>(steady::now() - unload_start).count();

    if (!peer.empty()) {
        // The same exchange from a Python script, on the same board.
        const std::string command = "/usr/bin/python3 " + peer + " " + board.device_path() + " " +
                                    std::to_string(conversions) + " " + dat("peer-python");
        if (std::system(command.c_str()) == 0) {
            std::ifstream in(dat("peer-python"));
            std::vector<double> ms;
            for (double v; in >> v;)
                ms.push_back(v);
            system_calls = 0;
            summary s =
                summarise("peer: python3-serial, same exchange as ea", static_cast<int>(ms.size()), ms, 0);
            s.floor_ms = 1;
            s.cpu_us = -1; // not measured for another process
            rows.push_back(s);
            char ratio[160];
            std::snprintf(ratio, sizeof ratio,
                          "\nea against the Python peer: p50 %.2fx, p99 %.2fx of its latency\n",
                          rows[0].p50 / s.p50, rows[0].p99 / s.p99);
            peer = ratio;
        } else {
            peer = "\nThe Python peer did not run (needs /usr/bin/python3 with python3-serial).\n";
        }
    }

    std::ostringstream report;
    report << table(rows) << peer << "\nLoad (dlopen, board present): " << format_ms(load_ms)
           << " (the driver sleeps 2000 ms for the board to start); unload (dlclose): "
           << format_ms(unload_ms) << "\n";
    std::cout << report.str();
    std::ofstream(out + "/results.md") << report.str();
    std::ofstream(out + "/board-path") << board.device_path() << "\n";
    return 0;
}
