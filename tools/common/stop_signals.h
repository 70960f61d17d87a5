// The signals that end a tool (Ctrl-C, SIGTERM, a closed terminal's SIGHUP),
// held blocked and taken synchronously, so that they never land in the middle
// of a conversion and every thread started later leaves them to the main one.
#pragma once

#include <chrono>
#include <csignal>
#include <optional>

namespace vostrelle::tools {

sigset_t stop_signal_set();

// Blocks the stop signals in the calling thread and in threads it starts.
void hold_stop_signals();

// The same, and SIGCHLD with them, for a tool that waits for its child with
// wait_for_stop_or_child. Called before any thread starts: a thread that
// leaves SIGCHLD unblocked may take it, and its default action drops it, so
// the wait would never end.
void hold_stop_and_child_signals();

struct taken_signal {
    int number = 0;               // 0: the time ran out
    bool sent_by_process = false; // by kill(), not by the terminal or kernel
};

// Waits for a stop signal for at most `limit` (for ever without one) and
// returns it, or 0 when the time ran out. A stop and continue (Ctrl-Z, fg)
// or any other interruption does not end the wait early.
int wait_for_stop(std::optional<std::chrono::nanoseconds> limit);

// Sleeps until `deadline` on the monotonic clock (an absolute time, so that
// a schedule never drifts by the time spent waking up) unless a stop signal
// comes first; returns it, or 0 at the deadline.
int sleep_until_or_stop(std::chrono::steady_clock::time_point deadline);

// Waits for a stop signal or SIGCHLD (see hold_stop_and_child_signals).
taken_signal wait_for_stop_or_child();

} // namespace vostrelle::tools
