// The host's settings: analog outputs (PWM, frequency, LED), digital lines,
// and what can be read back of them.
#include <vostrelle.h>

#include <array>

#include "board/commands.h"
#include "board/rounding.h"
#include "link/driver_state.h"

namespace {

using vostrelle::board::send_command;
using vostrelle::link::state;

void set_pwm(int value)
{
    const char command[] = {vostrelle::board::pwm_letter, static_cast<char>(value & 0xFF)};
    send_command(command, sizeof command);
}

void set_frequency(int)
{
    const char command[] = {vostrelle::board::frequency_letter, static_cast<char>(state.reply_high),
                            static_cast<char>(state.reply_low)};
    send_command(command, sizeof command);
}

void send_line_letter(int channel, int value)
{
    const char letter = vostrelle::board::letter_for(
        value > 0 ? vostrelle::board::line_high_letters : vostrelle::board::line_low_letters, channel);
    if (letter != '\0')
        send_command(&letter, 1);
}

void set_led(int value)
{
    send_line_letter(0, value);
}

// Analog output channels in order: PWM duty, frequency, LED line as 0/1.
constexpr std::array<void (*)(int), 3> analog_outputs{set_pwm, set_frequency, set_led};

bool has_readback(int channel)
{
    return channel >= 0 && channel < vostrelle::link::readback_entries;
}

} // namespace

extern "C" int VOSTRELLE_STDCALL sa(int channel, int value)
{
    // Every call leaves its value in the reply bytes, whatever the channel;
    // the next analog read that gets no answer returns them.
    state.reply_high = static_cast<std::uint8_t>(value / 256);
    state.reply_low = static_cast<std::uint8_t>(value % 256);
    if (channel >= 0 && static_cast<unsigned>(channel) < analog_outputs.size())
        analog_outputs[static_cast<std::size_t>(channel)](value);
    return value / 2;
}

extern "C" double VOSTRELLE_STDCALL sad(int channel, double value)
{
    return sa(channel, vostrelle::board::round_to_int(value));
}

extern "C" int VOSTRELLE_STDCALL sb(int channel, int value)
{
    if (has_readback(channel))
        state.output_readback[static_cast<std::size_t>(channel)] = static_cast<std::int16_t>(value);
    send_line_letter(channel, value);
    return value;
}

extern "C" int VOSTRELLE_STDCALL rsa(int)
{
    return 0;
}

extern "C" double VOSTRELLE_STDCALL rsad(int)
{
    return 0.0;
}

extern "C" int VOSTRELLE_STDCALL rsb(int channel)
{
    return has_readback(channel) ? state.output_readback[static_cast<std::size_t>(channel)] : 0;
}
