// The driver library loaded as a host application loads it, against the
// board or a simulated one: what the probe and the panel share.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "entry_points.h"
#include "simulated_board.h"

namespace vostrelle::host {

struct session {
    std::unique_ptr<sim::simulated_board> board; // set when simulating
    std::string device;                          // the device the driver opens
    void *handle = nullptr;
    std::string library;     // the path given, as messages name it
    std::string loaded_from; // what dlopen got: `library`, or this board's private copy of it
    entry_points api{};
};

// Where a tool looks for the library when --library is not given: the
// build's own library for a tool anywhere in the build tree, else the
// installed one.
std::vector<std::string> default_library_paths();

// --simulate[=MODE]: the mode written (healthy when none is); nothing, with
// the reason printed, for an unknown one.
std::optional<sim::fault_mode> simulation_mode(const std::string &written);

// "PROGRAM: unknown simulation mode 'MODE' (use …)\n".
std::string unknown_mode_text(const std::string &written);

// A simulated board with moving inputs, for --simulate.
std::unique_ptr<sim::simulated_board> start_simulated_board(sim::fault_mode mode);

// The device the driver opens: the simulated board's when there is one, else
// VOSTRELLE_DEVICE when set and not empty, else "/dev/ttyACM0".
std::string chosen_device(const sim::simulated_board *board);

// Sends the driver to `board` when there is one (through VOSTRELLE_DEVICE),
// then loads the library (about two seconds). On failure prints what was
// tried and why.
std::optional<session> open_session(const std::vector<std::string> &libraries,
                                    std::unique_ptr<sim::simulated_board> board);

// The same for the board at `device`, beside the boards of other sessions:
// the first session loads the library itself, each further one a private
// copy of it, so that every board has its own driver state.
std::optional<session> open_session(const std::vector<std::string> &libraries, const std::string &device);

// Unloads the driver, which closes its device, and loads the same library
// again, which opens the device anew (about two seconds); hosts holding `s`
// see the new entry points. False, with the reason printed, when the library
// stays loaded or does not load again: then no entry point may be called.
bool reload_driver(session &s);

// Whether the board answers a conversion of PA0 with both bytes: a reply
// byte that does not come keeps what `sa` on a channel without an output left
// there, so two different sentinels show which bytes came. A check that
// finds no whole answer is made again, three times at most.
enum class answer { whole, one_byte, none };
struct answer_check {
    answer result = answer::none;
    int count = 0;
    double ms = 0; // the last conversion's time
};
answer_check check_answer(session &s);

} // namespace vostrelle::host
