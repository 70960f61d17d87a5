// The c… (cdecl) and std… (stdcall) names, generated from the entry-point
// tables of the public header. Each form calls its route, which is the entry
// point it names except for the few rows specialised below.
#include <vostrelle.h>

#include <cstdio>

#include "board/rounding.h"

namespace {

double VOSTRELLE_STDCALL announced_sad(int channel, double value)
{
    // Like every transfer of the driver, the line is not checked.
    (void)std::puts("dans stdsad");
    (void)std::fflush(stdout);
    return sad(channel, value);
}

double VOSTRELLE_STDCALL eadouble_rounding_itself(double channel)
{
    return ead(vostrelle::board::round_to_int(channel));
}

template <auto Entry> constexpr auto c_route = Entry;
template <> constexpr auto c_route<&titre> = &stdtitre;
template <> constexpr auto c_route<&detail> = &stddetail;

template <auto Entry> constexpr auto std_route = Entry;
template <> constexpr auto std_route<&sad> = &announced_sad;
template <> constexpr auto std_route<&eadouble> = &eadouble_rounding_itself;

} // namespace

#define DEFINE_C_FORM(name, result, params, args)                                                            \
    extern "C" result VOSTRELLE_CDECL c##name params                                                         \
    {                                                                                                        \
        return c_route<&name> args;                                                                          \
    }
#define DEFINE_STD_FORM(name, result, params, args)                                                          \
    extern "C" result VOSTRELLE_STDCALL std##name params                                                     \
    {                                                                                                        \
        return std_route<&name> args;                                                                        \
    }

VOSTRELLE_BASE_ENTRY_POINTS(DEFINE_STD_FORM)
VOSTRELLE_DOUBLE_ENTRY_POINTS(DEFINE_STD_FORM)
VOSTRELLE_BASE_ENTRY_POINTS(DEFINE_C_FORM)
