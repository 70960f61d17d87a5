#pragma once

#include <cstdint>

namespace vostrelle::board {

// How a double argument becomes a channel number or a value: narrow to
// float, round halves away from zero, convert to 32 bits; NaN, infinities
// and anything outside the 32-bit range give INT32_MIN.
std::int32_t round_to_int(double x);

} // namespace vostrelle::board
