// The fuzzer's clock: every look at it moves it on by one millisecond and
// sleeps only move it on, so that reply deadlines pass without waiting.
#include "link/clock.h"

namespace vostrelle::link {

namespace {
std::int64_t now_ms = 0;
}

std::int64_t elapsed_milliseconds()
{
    return ++now_ms;
}

void delay_milliseconds(std::int32_t ms)
{
    if (ms > 0)
        now_ms += ms;
}

} // namespace vostrelle::link
