// The host's measurements: analog inputs as counts and volts, binary inputs.
#include <vostrelle.h>

#include "board/commands.h"
#include "link/driver_state.h"

namespace {

constexpr int no_binary_input = -777;

using vostrelle::link::state;

} // namespace

extern "C" int VOSTRELLE_STDCALL ea(int channel)
{
    vostrelle::board::run_conversion(channel, vostrelle::board::count_timing);
    return state.reply_high * 256 + state.reply_low;
}

extern "C" double VOSTRELLE_STDCALL ead(int channel)
{
    vostrelle::board::run_conversion(channel, vostrelle::board::volts_timing);
    return (state.reply_high * state.adc_high_weight + state.reply_low + state.adc_offset) *
           state.adc_full_scale / state.adc_divisor;
}

extern "C" int VOSTRELLE_STDCALL eb(int)
{
    return no_binary_input;
}
