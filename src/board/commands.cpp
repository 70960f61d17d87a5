#include "board/commands.h"

#include "link/clock.h"
#include "link/driver_state.h"
#include "link/serial_line.h"

namespace vostrelle::board {

using link::state;

void drain_input()
{
    std::uint8_t scratch = 0;
    for (std::int32_t drained = 0; drained < drain_limit && link::serial_available(state.board_port) > 0;
         ++drained)
        link::serial_read(state.board_port, &scratch, 1);
}

void wait_reply_byte(std::uint8_t &target, std::int32_t deadline_ms)
{
    const std::int64_t start = link::elapsed_milliseconds();
    while (link::serial_available(state.board_port) <= 0 &&
           link::elapsed_milliseconds() <= start + deadline_ms) {}
    if (link::serial_available(state.board_port) > 0)
        link::serial_read(state.board_port, &target, 1);
}

void send_command(const char *bytes, std::int32_t length)
{
    link::serial_write_text(state.board_port, bytes, length);
}

void run_conversion(std::int32_t channel, conversion_timing timing)
{
    drain_input();
    const char letter = letter_for(conversion_letters, channel);
    if (letter != '\0')
        send_command(&letter, 1);
    link::delay_milliseconds(timing.settle_ms);
    wait_reply_byte(state.reply_high, timing.deadline_ms);
    wait_reply_byte(state.reply_low, timing.deadline_ms);
}

} // namespace vostrelle::board
