// The board as a host sees it: its channels, the ranges of its values, and
// what one conversion costs. The Python package holds the same facts in
// python/vostrelle/board.py and recording.py.
#pragma once

#include <chrono>

namespace vostrelle::tools::board {

inline constexpr int input_count = 8;
inline constexpr int line_count = 8;

inline constexpr int count_highest = 1023; // a 10-bit conversion
inline constexpr double full_scale_volts = 5.0;
inline constexpr int pwm_highest = 255;
inline constexpr int frequency_highest = 65535;

// One conversion on a healthy board (settle delay, exchange and the host's
// wake-up); one in volts is two exchanges. It sets the shortest interval a
// scan can keep.
inline constexpr double count_conversion_ms = 1.1;
inline constexpr double volts_conversion_ms = 2.2;
// One that gets no reply waits out its settle delay and both reply deadlines
// (1 + 1 + 1 ms, in volts 2 + 2 + 2 ms), never less.
inline constexpr double count_unanswered_ms = 3;
inline constexpr double volts_unanswered_ms = 6;

// How late a simulated board in the "late" mode sends its second reply byte:
// past the driver's deadline.
inline constexpr std::chrono::microseconds late_reply_delay{5500};

} // namespace vostrelle::tools::board
