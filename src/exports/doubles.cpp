// The forms that take every number as a double: each rounds its arguments
// and calls one base entry point, widening an integer result.
#include <vostrelle.h>

#include "board/rounding.h"

using vostrelle::board::round_to_int;

extern "C" double VOSTRELLE_STDCALL eadouble(double channel)
{
    return ead(round_to_int(channel));
}

extern "C" double VOSTRELLE_STDCALL ebdouble(double channel)
{
    return eb(round_to_int(channel));
}

extern "C" vostrelle_text VOSTRELLE_STDCALL neadouble(double channel)
{
    return nead(round_to_int(channel));
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nebdouble(double channel)
{
    return neb(round_to_int(channel));
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nsadouble(double channel)
{
    return nsad(round_to_int(channel));
}

extern "C" vostrelle_text VOSTRELLE_STDCALL nsbdouble(double channel)
{
    return nsb(round_to_int(channel));
}

extern "C" double VOSTRELLE_STDCALL rsadouble(double channel)
{
    return rsad(round_to_int(channel));
}

extern "C" double VOSTRELLE_STDCALL rsbdouble(double channel)
{
    return rsb(round_to_int(channel));
}

// The value goes on as a double: sad rounds it by the same rule.
extern "C" double VOSTRELLE_STDCALL sadouble(double channel, double value)
{
    return sad(round_to_int(channel), value);
}

extern "C" double VOSTRELLE_STDCALL sbdouble(double channel, double value)
{
    return sb(round_to_int(channel), round_to_int(value));
}
