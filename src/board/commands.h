// The board's command set and the exchange of one analog conversion.
#pragma once

#include <cstdint>
#include <string_view>

namespace vostrelle::board {

// One letter per channel, in channel order.
inline constexpr std::string_view conversion_letters = "IJKLMNOP";
inline constexpr std::string_view line_high_letters = "RSTUVWXY";
inline constexpr std::string_view line_low_letters = "rstuvwxy";
inline constexpr char pwm_letter = 'q';       // + duty byte
inline constexpr char frequency_letter = 'Z'; // + high byte, low byte

// The letter for `channel`, or 0 when the table has none.
constexpr char letter_for(std::string_view letters, std::int32_t channel)
{
    return channel >= 0 && static_cast<std::uint32_t>(channel) < letters.size()
               ? letters[static_cast<std::size_t>(channel)]
               : '\0';
}

struct conversion_timing {
    std::int32_t settle_ms;
    std::int32_t deadline_ms;
};

inline constexpr conversion_timing count_timing{1, 1};
inline constexpr conversion_timing volts_timing{2, 2};

// A board flooding the line must not hold the host: draining stops after
// this many bytes (one tty input buffer) even if more keep arriving.
inline constexpr std::int32_t drain_limit = 4096;

void drain_input();
void wait_reply_byte(std::uint8_t &target, std::int32_t deadline_ms);

// One write of the whole command; output commands get no drain and no wait.
void send_command(const char *bytes, std::int32_t length);

// Drain, send the conversion letter of `channel` (none outside 0..7), let the
// board settle, then wait for the high and the low reply byte.
void run_conversion(std::int32_t channel, conversion_timing timing);

} // namespace vostrelle::board
