// round_to_int against an independent reference, for every single-precision
// value: the reference works in exact integer arithmetic on the float's bits
// instead of in floating point.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "board/rounding.h"

namespace {

__extension__ using int128 = __int128;
constexpr int fraction_bits = 48; // values handled exactly are multiples of 2^-48
constexpr std::int32_t out_of_range = std::numeric_limits<std::int32_t>::min();

// |value| * 2^48 for a finite float with 2^-25 <= |value| < 2^32.
int128 scaled_magnitude(std::uint32_t bits)
{
    const int exponent = static_cast<int>((bits >> 23) & 0xFF);
    const int128 significand = (bits & 0x7FFFFF) | (exponent ? 0x800000 : 0);
    const int shift = (exponent ? exponent : 1) - 127 - 23 + fraction_bits;
    return shift >= 0 ? significand << shift : significand >> -shift;
}

// Rounds a positive multiple of 2^-48 to 24 significant bits, ties to even.
int128 round_to_float_precision(int128 value)
{
    int length = 0;
    for (int128 v = value; v; v >>= 1)
        ++length;
    if (length <= 24)
        return value;
    const int shift = length - 24;
    int128 kept = value >> shift;
    const int128 rest = value & ((int128(1) << shift) - 1), half = int128(1) << (shift - 1);
    if (rest > half || (rest == half && (kept & 1)))
        ++kept;
    return kept << shift;
}

std::int32_t reference_round(std::uint32_t bits)
{
    const bool negative = bits >> 31;
    const std::uint32_t magnitude_bits = bits & 0x7FFFFFFF;
    if (magnitude_bits >= 0x7F800000) // infinity, NaN
        return out_of_range;
    if (magnitude_bits >= 0x4F800000) // 2^32 and beyond
        return out_of_range;
    const int128 half = int128(1) << (fraction_bits - 1);
    if (magnitude_bits < 0x33000000) // below 2^-25: halfway values are far away
        return 0;
    const int128 v = scaled_magnitude(bits);
    if (!negative) {
        const int128 r = (v + half) >> fraction_bits;
        return r <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(r) : out_of_range;
    }
    // ceil(float(-v - 0.5)) = -floor(float(v + 0.5)) for the magnitude.
    const int128 r = -(round_to_float_precision(v + half) >> fraction_bits);
    return r >= std::numeric_limits<std::int32_t>::min() ? static_cast<std::int32_t>(r) : out_of_range;
}

TEST(round_to_int_differential, agrees_with_exact_integer_arithmetic_for_every_float)
{
    constexpr std::uint64_t all = std::uint64_t(1) << 32;
    const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
    std::atomic<std::uint64_t> mismatches{0}, first_mismatch{all};
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (std::uint64_t bits = w; bits < all; bits += workers) {
                const auto pattern = static_cast<std::uint32_t>(bits);
                const double x = std::bit_cast<float>(pattern);
                if (vostrelle::board::round_to_int(x) != reference_round(pattern)) {
                    ++mismatches;
                    std::uint64_t seen = first_mismatch;
                    while (bits < seen && !first_mismatch.compare_exchange_weak(seen, bits)) {
                    }
                }
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0u) << "first at float bits 0x" << std::hex << first_mismatch.load();
    RecordProperty("values_checked", std::to_string(all));
}

TEST(round_to_int_differential, reference_holds_the_documented_corners)
{
    const std::pair<float, std::int32_t> corners[] = {
        {0.5f, 1}, {-0.5f, -1}, {2.5f, 3}, {-2.5f, -3}, {0.49999997f, 0}, {-0.49999997f, -1},
        {-8388609.0f, -8388610}, {-16777216.0f, -16777216}, {2147483520.0f, 2147483520},
        {2147483648.0f, out_of_range}, {-2147483648.0f, out_of_range + 0},
    };
    for (const auto &[value, expected] : corners)
        EXPECT_EQ(reference_round(std::bit_cast<std::uint32_t>(value)), expected) << value;
}

} // namespace
