// Where a host stands with the board's device, as a pure state machine: the
// host tells it what it saw, it answers with the state and the next step.
// No clock and no system call inside, so that every path is testable.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

namespace vostrelle::host {

enum class board_state { answering, silent, gone, loading };

enum class observation {
    answered,    // a scan or a single check got the board's reply
    unanswered,  // it got none
    lost,        // the path is gone, leads to another device, or the port hung up
    absent,      // while gone: the path is still missing
    present,     // while gone: the path is there again
    loaded,      // the driver was loaded again and opened the device
    load_failed, // it was loaded again but did not open the device
};

// What the host does next: scan at its next slot; make a single check
// conversion; look at the path; load the driver again.
enum class action { scan, check, look, reload };

struct moment {
    std::chrono::steady_clock::time_point steady;
    std::chrono::system_clock::time_point wall; // for "gone since 14:03:12"
    static moment now();
};

struct step {
    action what = action::scan;
    std::chrono::steady_clock::time_point not_before; // no conversion, no look before then
};

// A stretch of time without readings, from the first unanswered scan or the
// loss of the device to the first answer after it.
struct gap {
    board_state cause = board_state::gone; // silent or gone, as it began
    moment start;
    std::optional<moment> end; // none while it lasts
};

struct state_change {
    board_state from = board_state::answering, to = board_state::answering;
    moment at;
};

class follow_machine {
public:
    static constexpr int unanswered_scans_before_silent = 3;
    static constexpr auto check_every = std::chrono::seconds(1);
    static constexpr auto look_every = std::chrono::milliseconds(100);
    static constexpr auto look_after_failed_load = std::chrono::seconds(5);

    follow_machine(board_state first, moment at);

    // Takes what the host saw at `at`; the change of state it made, if any.
    std::optional<state_change> observe(observation seen, moment at);

    step next() const { return next_; }
    board_state state() const { return state_; }
    moment since() const { return since_; } // when the current state began
    const std::vector<gap> &gaps() const { return gaps_; }
    int reloads() const { return reloads_; }

private:
    void enter(board_state to, moment at);

    board_state state_;
    moment since_;
    step next_;
    std::vector<gap> gaps_;
    int reloads_ = 0;
    int unanswered_in_row_ = 0;
    moment first_unanswered_;
};

} // namespace vostrelle::host
