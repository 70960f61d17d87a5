// round_to_int against an independent reference that works in exact integer
// arithmetic on the float's bits instead of in floating point: every float
// where rounding has work to do (magnitudes from 1/4 to 2^25, where halves
// and the narrowing of v - 0.5 matter), the values around the ends of the
// 32-bit range, and a sample of all the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <thread>
#include <vector>

#include "board/rounding.h"

namespace {

constexpr int fraction_bits = 26; // values handled exactly are multiples of 2^-26
constexpr std::int32_t out_of_range = std::numeric_limits<std::int32_t>::min();
constexpr std::uint32_t quarter_bits = 0x3E800000;   // 0.25f
constexpr std::uint32_t two_to_25_bits = 0x4C000000; // 2^25
constexpr std::uint32_t two_to_31_bits = 0x4F000000; // 2^31
constexpr std::uint32_t two_to_32_bits = 0x4F800000; // 2^32
constexpr std::uint32_t infinity_bits = 0x7F800000;
constexpr std::uint32_t edge_window = 1u << 16;

// |value| * 2^26 for a float with 1/4 <= |value| < 2^32: below 2^58.
std::uint64_t scaled_magnitude(std::uint32_t bits)
{
    const int exponent = static_cast<int>((bits >> 23) & 0xFF);
    const std::uint64_t significand = (bits & 0x7FFFFF) | 0x800000;
    return significand << (exponent - 127 - 23 + fraction_bits);
}

// Rounds a positive multiple of 2^-26 to 24 significant bits, ties to even.
std::uint64_t round_to_float_precision(std::uint64_t value)
{
    const int length = static_cast<int>(std::bit_width(value));
    if (length <= 24)
        return value;
    const int shift = length - 24;
    std::uint64_t kept = value >> shift;
    const std::uint64_t rest = value & ((std::uint64_t(1) << shift) - 1), half = std::uint64_t(1)
                                                                                 << (shift - 1);
    if (rest > half || (rest == half && (kept & 1)))
        ++kept;
    return kept << shift;
}

std::int32_t reference_round(std::uint32_t bits)
{
    const bool negative = bits >> 31;
    const std::uint32_t magnitude_bits = bits & 0x7FFFFFFF;
    if (magnitude_bits >= two_to_32_bits) // 2^32 and beyond, infinity, NaN
        return out_of_range;
    if (magnitude_bits < quarter_bits) // v + 0.5 and v - 0.5 stay strictly inside (-1, 1)
        return 0;
    const std::uint64_t half = std::uint64_t(1) << (fraction_bits - 1);
    const std::uint64_t v = scaled_magnitude(bits);
    if (!negative) {
        const std::uint64_t r = (v + half) >> fraction_bits;
        return r <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(r) : out_of_range;
    }
    // ceil(float(-v - 0.5)) = -floor(float(v + 0.5)) for the magnitude.
    const std::uint64_t r = round_to_float_precision(v + half) >> fraction_bits;
    return r <= std::uint64_t(1) << 31 ? static_cast<std::int32_t>(-static_cast<std::int64_t>(r))
                                       : out_of_range;
}

// The magnitudes [first, last) checked on every float, both signs.
struct bit_range {
    std::uint32_t first, last;
};
constexpr bit_range exhaustive[] = {
    {quarter_bits, two_to_25_bits},
    {two_to_31_bits - edge_window, two_to_31_bits + edge_window},
    {two_to_32_bits - edge_window, two_to_32_bits},
    {infinity_bits, infinity_bits + edge_window},
};

bool checked_exhaustively(std::uint32_t magnitude_bits)
{
    return std::any_of(std::begin(exhaustive), std::end(exhaustive), [&](const bit_range &r) {
        return magnitude_bits >= r.first && magnitude_bits < r.last;
    });
}

// Every 251st pattern elsewhere; VOSTRELLE_EVERY_FLOAT=1 checks them all.
std::uint64_t sample_stride()
{
    return std::getenv("VOSTRELLE_EVERY_FLOAT") ? 1 : 251;
}

TEST(round_to_int_differential, agrees_with_exact_integer_arithmetic)
{
    const std::uint64_t stride = sample_stride();
    const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
    std::atomic<std::uint64_t> checked{0}, mismatches{0};
    std::atomic<std::uint32_t> first_mismatch{0};
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            std::uint64_t mine = 0;
            auto check = [&](std::uint32_t pattern) {
                ++mine;
                const double x = std::bit_cast<float>(pattern);
                if (vostrelle::board::round_to_int(x) != reference_round(pattern) && mismatches++ == 0)
                    first_mismatch = pattern;
            };
            for (std::uint32_t sign : {0u, 0x80000000u}) {
                for (const auto &r : exhaustive)
                    for (std::uint32_t m = r.first + w; m < r.last; m += workers)
                        check(sign | m);
                for (std::uint64_t m = w * stride; m < 0x80000000u; m += workers * stride)
                    if (!checked_exhaustively(static_cast<std::uint32_t>(m)))
                        check(sign | static_cast<std::uint32_t>(m));
            }
            checked += mine;
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0u) << "first at float bits 0x" << std::hex << first_mismatch.load();
    std::printf("%llu floats checked\n", static_cast<unsigned long long>(checked.load()));
}

TEST(round_to_int_differential, reference_holds_the_documented_corners)
{
    const std::pair<float, std::int32_t> corners[] = {
        {0.5f, 1},
        {-0.5f, -1},
        {2.5f, 3},
        {-2.5f, -3},
        {0.49999997f, 0},
        {-0.49999997f, -1},
        {0.25f, 0},
        {-0.25f, 0},
        {0.24999999f, 0},
        {-8388609.0f, -8388610},
        {-16777216.0f, -16777216},
        {2147483520.0f, 2147483520},
        {2147483648.0f, out_of_range},
        {-2147483648.0f, out_of_range + 0},
        {-4294967040.0f, out_of_range},
    };
    for (const auto &[value, expected] : corners)
        EXPECT_EQ(reference_round(std::bit_cast<std::uint32_t>(value)), expected) << value;
}

} // namespace
