// vostrelle-probe: a small host that loads libvostrelle.so as a host
// application does and shows what the board answers.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board.h"
#include "channel_file.h"
#include "session.h"
#include "set_request.h"
#include "units.h"

namespace vostrelle::probe {

// The probe is one of the hosts: the session's names are its own.
using host::answer;
using host::answer_check;
using host::check_answer;
using host::default_library_paths;
using host::open_session;
using host::session;
using host::simulation_mode;
using host::start_simulated_board;

struct read_options {
    bool csv = false;
    int count = 1;
    int interval_ms = 1000;
};

struct record_options {
    std::vector<int> channels; // empty: all eight
    bool counts = false;       // else volts
    double interval_ms = 0;    // 0: from rate_hz, else one second
    double rate_hz = 0;
    double duration_s = 0; // with count 0: until stopped
    long long count = 0;
    std::string output = "-";
    std::string plot;                 // PNG path, or empty
    std::vector<std::string> devices; // several boards; none: the one the driver opens
};

// A recording checked and its output opened, before the driver is loaded.
struct record_plan {
    std::vector<int> channels;
    std::vector<std::string> devices; // none: the one board the driver opens
    std::size_t boards = 1;           // each has the channels' columns
    bool counts = false;
    std::chrono::steady_clock::duration interval{};
    std::optional<long long> slots; // scheduled scans; none: until stopped
    std::string output, plot;
    std::vector<std::FILE *> sinks;    // the output, and a copy to plot when it is standard output
    std::string plot_source;           // that copy's path
    std::vector<input_channels> shown; // each board's, in the boards' order, set once they are known
};

struct list_options {
    bool ask = false;
    bool json = false;
};

int run_info(session &s);
int run_read(session &s, const read_options &options, const input_channels &shown);
// Checks the options; on refusal says why.
std::optional<record_plan> plan_recording(const record_options &options);
// Opens the output (before the driver's two seconds of loading); false, with
// the reason printed, when it cannot.
bool open_record_outputs(record_plan &plan);
// Each board of `boards` on its own thread, all on one schedule.
int run_record(std::vector<session> &boards, record_plan &plan);
int run_watch(session &s, int interval_ms, int frames, const input_channels &shown);
// Two known values applied in turn, typed in the terminal; their volts make
// the input's calibration in the channel file at `path`.
int run_calibrate(session &s, int input, const std::string &path);
int run_set(session &s, const set_request &request);
int run_doctor(const std::vector<std::string> &libraries, std::optional<sim::fault_mode> simulate);
int run_list(const list_options &options);
int run_udev_rule(const std::string &device);

} // namespace vostrelle::probe
