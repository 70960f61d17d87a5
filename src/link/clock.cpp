#include "link/clock.h"

#include <ctime>

namespace vostrelle::link {

namespace {
std::int64_t clock_base_seconds = 0;
}

std::int64_t elapsed_milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (clock_base_seconds == 0)
        clock_base_seconds = now.tv_sec;
    const std::int64_t microseconds = now.tv_nsec / 1000;
    return (static_cast<std::int64_t>(now.tv_sec) - clock_base_seconds) * 1000 + microseconds / 1000;
}

void delay_milliseconds(std::int32_t ms)
{
    timespec interval{};
    interval.tv_sec = ms / 1000;
    interval.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&interval, &interval);
}

} // namespace vostrelle::link
