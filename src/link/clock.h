// The driver's millisecond clock and its one way of sleeping.
#pragma once

#include <cstdint>

namespace vostrelle::link {

// Milliseconds since a whole-second base taken at the first call, so the
// first value lies in 0..999. Monotonic: a step of the wall clock cannot
// stretch a reply deadline. Only differences between values mean anything.
std::int64_t elapsed_milliseconds();

// One nanosleep of `ms`; a signal cuts it short and the rest is not slept.
// Zero and negative values return at once.
void delay_milliseconds(std::int32_t ms);

} // namespace vostrelle::link
