#include "board/rounding.h"

#include <limits>

// Exactness rests on every float and double operation being rounded to its
// own type. The i386 build therefore does its arithmetic in SSE2 registers
// (-msse2 -mfpmath=sse): with x87 arithmetic the narrowings below could be
// skipped and the results would differ at the edges.
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "round_to_int needs SSE2 arithmetic on i386 (-msse2 -mfpmath=sse)"
#endif

namespace vostrelle::board {

namespace {
constexpr std::int32_t out_of_range = std::numeric_limits<std::int32_t>::min();
constexpr double above_int32 = 2147483648.0;
constexpr double below_int32 = -2147483649.0;
} // namespace

std::int32_t round_to_int(double x)
{
    const float v = static_cast<float>(x);
    if (v > 0.0f) {
        // floor(v + 0.5), and for a positive sum floor is truncation.
        const double sum = static_cast<double>(v) + 0.5;
        return sum < above_int32 ? static_cast<std::int32_t>(sum) : out_of_range;
    }
    // ceil of the difference rounded to float; for a value at or below -0.5,
    // ceil is truncation. NaN fails the range test.
    const float difference = static_cast<float>(static_cast<double>(v) - 0.5);
    return difference > below_int32 ? static_cast<std::int32_t>(difference) : out_of_range;
}

} // namespace vostrelle::board
