// The forms that take every number as a double: each rounds its arguments
// and calls one base entry point, widening an integer result.
#include <vostrelle.h>

#include "board/rounding.h"

using vostrelle::board::round_to_int;

// name, result, the base entry point called with the rounded channel.
#define VOSTRELLE_ROUNDED_CHANNEL_FORMS(X)                                                                   \
    X(eadouble, double, ead)                                                                                 \
    X(ebdouble, double, eb)                                                                                  \
    X(neadouble, vostrelle_text, nead)                                                                       \
    X(nebdouble, vostrelle_text, neb)                                                                        \
    X(nsadouble, vostrelle_text, nsad)                                                                       \
    X(nsbdouble, vostrelle_text, nsb)                                                                        \
    X(rsadouble, double, rsad)                                                                               \
    X(rsbdouble, double, rsb)

#define VOSTRELLE_DEFINE_ROUNDED_CHANNEL_FORM(name, result, base)                                            \
    extern "C" result VOSTRELLE_STDCALL name(double channel)                                                 \
    {                                                                                                        \
        return base(round_to_int(channel));                                                                  \
    }

VOSTRELLE_ROUNDED_CHANNEL_FORMS(VOSTRELLE_DEFINE_ROUNDED_CHANNEL_FORM)

// The value goes on as a double: sad rounds it by the same rule.
extern "C" double VOSTRELLE_STDCALL sadouble(double channel, double value)
{
    return sad(round_to_int(channel), value);
}

extern "C" double VOSTRELLE_STDCALL sbdouble(double channel, double value)
{
    return sb(round_to_int(channel), round_to_int(value));
}
