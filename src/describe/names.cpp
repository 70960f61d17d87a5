// Channel names, title and detail: constant texts, no hardware.
#include <vostrelle.h>

#include <array>
#include <span>
#include <string_view>

#include "describe/result_text.h"

namespace {

using name_table = std::span<const char *const>;

constexpr std::array<const char *, 8> analog_input_count_names{
    "EA0(PA0)0..1023", "EA1(PA1)0..1023", "EA2(PA2)0..1023", "EA3(PA3)0..1023",
    "EA4(PA4)0..1023", "EA5(PA5)0..1023", "EA6(PA6)0..1023", "EA7(PA7)0..1023",
};

constexpr std::array<const char *, 8> analog_input_volt_names{
    "EA0(PA0)0..5V", "EA1(PA1)0..5V", "EA2(PA2)0..5V", "EA3(PA3)0..5V",
    "EA4(PA4)0..5V", "EA5(PA5)0..5V", "EA6(PA6)0..5V", "EA7(PA7)0..5V",
};

constexpr std::array<const char *, 3> analog_output_names{
    "SA0=PWM(OC1A.PD5)0..255",
    "SA1=freq(OC2.PD7)0..63535",
    "SA2=SB0=T0.PB0 0..1",
};

constexpr std::array<const char *, 8> binary_output_names{
    "SB0=PB0(LED)", "SB1=PB1", "SB2=PB2", "SB3=PB3", "SB4=PB4", "SB5=PB5", "SB6=PB6", "SB7=PB7",
};

constexpr const char *title_text = "Vostrelle";
// ISO-8859-1: the e-acute is the single byte 0xE9.
constexpr const char *detail_text = "Pilote pour Vostrelle, par Quenardel, 2 f\xE9"
                                    "vrier 2015";

constexpr bool fits_result_text(name_table table)
{
    for (const char *text : table)
        if (std::string_view(text).size() >= vostrelle::describe::result_text_capacity)
            return false;
    return true;
}

static_assert(fits_result_text(analog_input_count_names) && fits_result_text(analog_input_volt_names) &&
              fits_result_text(analog_output_names) && fits_result_text(binary_output_names) &&
              fits_result_text(std::array{title_text, detail_text}));

const char *name_of(name_table table, int channel)
{
    const bool listed = channel >= 0 && static_cast<unsigned>(channel) < table.size();
    return vostrelle::describe::hand_back(listed ? table[static_cast<std::size_t>(channel)] : "");
}

} // namespace

extern "C" vostrelle_text VOSTRELLE_STDCALL nea(int channel)
{
    return name_of(analog_input_count_names, channel);
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nead(int channel)
{
    return name_of(analog_input_volt_names, channel);
}

extern "C" vostrelle_text VOSTRELLE_STDCALL neb(int channel)
{
    return name_of({}, channel); // the board has no binary inputs
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nsa(int channel)
{
    return name_of(analog_output_names, channel);
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nsad(int channel)
{
    return name_of(analog_output_names, channel);
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nsb(int channel)
{
    return name_of(binary_output_names, channel);
}

extern "C" vostrelle_text VOSTRELLE_STDCALL titre(void)
{
    return vostrelle::describe::hand_back(title_text);
}

extern "C" vostrelle_text VOSTRELLE_STDCALL detail(void)
{
    return vostrelle::describe::hand_back(detail_text);
}
