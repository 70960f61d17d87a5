// The real libvostrelle.so, loaded with dlopen as a host loads it, and its
// 71 entry points resolved through the public header's pointer types.
#pragma once

#include "entry_points.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace vostrelle::test {

using host::entry_point_names;
using host::entry_points;

const char *library_path();

class loaded_driver {
public:
    loaded_driver() = default;
    ~loaded_driver();
    loaded_driver(const loaded_driver &) = delete;
    loaded_driver &operator=(const loaded_driver &) = delete;

    // dlopen; fails the test when the library does not load.
    void load();
    // dlclose, and check that the library really left the process.
    void unload();
    bool loaded() const { return handle_ != nullptr; }
    const entry_points &api() const { return api_; }
    void *symbol(const char *name) const;

private:
    void *handle_ = nullptr;
    entry_points api_{};
};

// The driver sleeps 2 s at load so that the board can start. Tests that do
// not measure that sleep skip it: this program's own nanosleep answers a
// request of exactly 2 s at once. It also records every sleep asked for
// after record_sleeps_from_now().
void skip_start_up_delay(bool skip);
std::vector<timespec> requested_sleeps();
void record_sleeps_from_now();

// Called on the driver's thread when it starts the settle sleep after a
// command (1 or 2 ms), before the sleep itself; an empty function removes it.
void on_settle_sleep(std::function<void()> hook);

// While one lives, this thread's monotonic clock and sleeps are virtual: every
// look at the clock moves it on by a millisecond and sleeps return at once
// after moving it on, so reply deadlines pass without waiting.
class virtual_clock {
public:
    virtual_clock();
    ~virtual_clock();
    virtual_clock(const virtual_clock &) = delete;
    virtual_clock &operator=(const virtual_clock &) = delete;
};

// Bytes the driver wrote to and read from the board's descriptor (the one
// the redirect led to the simulator) since reset_board_traffic().
struct board_traffic {
    std::uint64_t written = 0;
    std::uint64_t read = 0;
};
board_traffic traffic_on_board();
void reset_board_traffic();

// All descriptors of this process.
int open_descriptor_count();

// Descriptors of this process that lead to `path`, and how many there are.
std::vector<int> descriptors_on(const std::string &path);
int descriptors_open_on(const std::string &path);

// Collects what the process writes to descriptor 1 until finish().
class standard_output_capture {
public:
    standard_output_capture();
    ~standard_output_capture();
    std::string finish();

private:
    int saved_ = -1;
    std::FILE *file_ = nullptr;
};

} // namespace vostrelle::test
