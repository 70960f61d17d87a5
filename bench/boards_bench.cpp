// Several boards in one process: one more driver instance loaded (time and
// memory), a scan of 8 inputs on one board against two boards scanned each on
// its own thread, and a name call through each instance. Against simulated
// boards in this process; prints Markdown table rows.
#include <algorithm>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "session.h"

namespace {

using namespace vostrelle;
using clock_type = std::chrono::steady_clock;
using milliseconds = std::chrono::duration<double, std::milli>;

constexpr int scans = 300;
constexpr int inputs = 8;

long resident_kib()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    long kib = 0;
    while (status >> word)
        if (word == "VmRSS:" && status >> kib)
            break;
    return kib;
}

host::session open_board(const sim::simulated_board &board, double &load_ms, long &memory_kib)
{
    const long before = resident_kib();
    const auto start = clock_type::now();
    auto s = host::open_session({VOSTRELLE_BENCH_LIBRARY}, board.device_path());
    load_ms = milliseconds(clock_type::now() - start).count();
    memory_kib = resident_kib() - before;
    if (!s)
        throw std::runtime_error("no driver for " + board.device_path());
    return std::move(*s);
}

void scan(host::session &s)
{
    for (int channel = 0; channel < inputs; ++channel)
        s.api.ea(channel);
}

// Median time of a scan of every board, each board on its own thread, all
// starting each scan together.
double scan_ms(const std::vector<host::session *> &boards)
{
    std::vector<double> times;
    clock_type::time_point began;
    std::barrier slot(static_cast<std::ptrdiff_t>(boards.size()), [&] {
        const auto now = clock_type::now();
        if (began != clock_type::time_point{})
            times.push_back(milliseconds(now - began).count());
        began = now;
    });
    std::vector<std::jthread> threads;
    threads.reserve(boards.size());
    for (auto *board : boards)
        threads.emplace_back([board, &slot] {
            slot.arrive_and_wait();
            for (int k = 0; k < scans; ++k) {
                scan(*board);
                slot.arrive_and_wait();
            }
        });
    threads.clear();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double name_call_ns(host::session &s)
{
    constexpr int calls = 1000000;
    const auto start = clock_type::now();
    std::size_t length = 0;
    for (int k = 0; k < calls; ++k)
        length += std::char_traits<char>::length(s.api.nea(k % inputs));
    const double ns = std::chrono::duration<double, std::nano>(clock_type::now() - start).count() / calls;
    return length > 0 ? ns : 0;
}

} // namespace

int main()
{
    sim::simulated_board first_board, second_board;
    double first_ms = 0, second_ms = 0;
    long first_kib = 0, second_kib = 0;
    auto first = open_board(first_board, first_ms, first_kib);
    auto second = open_board(second_board, second_ms, second_kib);
    std::printf("| load, first instance (the library's own path) | %.1f ms | %ld KiB |\n", first_ms,
                first_kib);
    std::printf("| load, one more instance (private copy) | %.1f ms | %ld KiB |\n", second_ms, second_kib);
    const double one = scan_ms({&first});
    const double two = scan_ms({&first, &second});
    std::printf("| scan of 8 inputs (ea), one board | %.3f ms | |\n", one);
    std::printf("| scan of 8 inputs (ea), two boards, a thread each | %.3f ms | %+.1f %% |\n", two,
                (two / one - 1) * 100);
    std::printf("| name call (nea), first instance | %.1f ns | |\n", name_call_ns(first));
    std::printf("| name call (nea), second instance | %.1f ns | |\n", name_call_ns(second));
}
