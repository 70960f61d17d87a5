#include "stop_signals.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <pthread.h>

namespace vostrelle::tools {

namespace {

using clock_type = std::chrono::steady_clock;

timespec timespec_of(std::chrono::nanoseconds length)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((length - seconds).count())};
}

taken_signal wait_for(const sigset_t &signals, std::optional<std::chrono::nanoseconds> limit)
{
    const auto deadline = clock_type::now() + limit.value_or(std::chrono::nanoseconds::zero());
    for (;;) {
        siginfo_t info{};
        int taken = 0;
        if (limit) {
            const auto left =
                std::max(std::chrono::nanoseconds::zero(),
                         std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - clock_type::now()));
            const timespec wait = timespec_of(left);
            taken = sigtimedwait(&signals, &info, &wait);
        } else {
            taken = sigwaitinfo(&signals, &info);
        }
        if (taken > 0)
            return {taken, info.si_code == SI_USER || info.si_code == SI_QUEUE};
        if (errno == EAGAIN)
            return {};
        // EINTR: stopped and continued, or another signal's handler ran.
    }
}

sigset_t stop_and_child_signal_set()
{
    sigset_t signals = stop_signal_set();
    sigaddset(&signals, SIGCHLD);
    return signals;
}

} // namespace

sigset_t stop_signal_set()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

void hold_stop_signals()
{
    const sigset_t signals = stop_signal_set();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void hold_stop_and_child_signals()
{
    const sigset_t signals = stop_and_child_signal_set();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int wait_for_stop(std::optional<std::chrono::nanoseconds> limit)
{
    return wait_for(stop_signal_set(), limit).number;
}

int sleep_until_or_stop(clock_type::time_point deadline)
{
    // Wait for a signal until shortly before the deadline, then sleep to the
    // deadline itself: sigtimedwait only takes a relative time.
    constexpr auto last_stretch = std::chrono::milliseconds(2);
    if (const auto left = deadline - clock_type::now(); left > last_stretch)
        if (const int taken = wait_for_stop(left - last_stretch))
            return taken;
    const timespec at = timespec_of(deadline.time_since_epoch()); // steady_clock is CLOCK_MONOTONIC
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {}
    return wait_for_stop(std::chrono::nanoseconds::zero());
}

taken_signal wait_for_stop_or_child()
{
    return wait_for(stop_and_child_signal_set(), std::nullopt);
}

} // namespace vostrelle::tools
