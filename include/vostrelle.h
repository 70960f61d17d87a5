/*
 * vostrelle.h - entry points of the Vostrelle board driver (libvostrelle.so).
 *
 * The driver opens "/dev/ttyACM0" (38400 baud, 8N1, raw) when it is loaded
 * and closes it when it is unloaded. When the environment variable
 * VOSTRELLE_DEVICE is set and not empty at load, it opens that path instead
 * (a board that appeared as /dev/ttyACM1, a simulated board's terminal);
 * a set-user-ID or otherwise privileged host ignores the variable. Loading takes about two seconds, with or
 * without a board, so that the board is ready before the first command. The
 * driver reports no errors: a missing or silent board shows as stale or zero
 * readings, and a channel number outside a channel list selects nothing.
 *
 * What a host may rely on:
 *  - Units: `ea` answers the raw 10-bit count (0..1023), `ead` volts
 *    (0.0..5.0, count * 5 / 1023). `sa` channel 0 is the PWM duty (0..255),
 *    channel 1 the frequency output value, channel 2 the LED line as 0/1;
 *    `sb` channels 0..7 are the digital lines PB0..PB7 (>0 sets a line high).
 *  - Texts are NUL-terminated ISO-8859-1 (not UTF-8). A returned text stays
 *    valid only until the next call of any entry point: copy it to keep it.
 *    Never free or write it.
 *  - Calls come from one thread at a time; the driver has no locks.
 *  - `…double` forms take every number as a double and round it to the
 *    nearest integer (halves away from zero, after narrowing to float);
 *    NaN, infinities and out-of-range numbers become INT_MIN.
 *  - Conventions (32-bit x86): the base, `…double` and `std…` entry points
 *    remove their own arguments (stdcall); the `c…` entry points leave them
 *    to the caller (cdecl). Doubles come back on the x87 stack, integers and
 *    texts in EAX. On other targets both families are plain C functions.
 *  - `stdsad` alone writes a line ("dans stdsad") to standard output.
 *
 * Each table row is X(name, result, parameters, arguments). The header
 * declares every entry point and, for hosts that use dlopen, a pointer type
 * `vostrelle_<name>_fn` for each of the 71 names.
 */
#ifndef VOSTRELLE_H
#define VOSTRELLE_H

#if defined(__i386__)
#define VOSTRELLE_STDCALL __attribute__((stdcall))
#define VOSTRELLE_CDECL __attribute__((cdecl))
#else
#define VOSTRELLE_STDCALL
#define VOSTRELLE_CDECL
#endif

#if defined(VOSTRELLE_BUILDING)
#define VOSTRELLE_API __attribute__((visibility("default")))
#else
#define VOSTRELLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A NUL-terminated ISO-8859-1 text owned by the driver (see above). */
typedef const char *vostrelle_text;

/* The base entry points: stdcall, each also exported as c<name> (cdecl) and
 * std<name> (stdcall). */
#define VOSTRELLE_BASE_ENTRY_POINTS(X)                                                                       \
    X(ea, int, (int channel), (channel))     /* count 0..1023 */                                             \
    X(ead, double, (int channel), (channel)) /* volts 0..5 */                                                \
    X(eb, int, (int channel), (channel))     /* always -777 */                                               \
    X(nea, vostrelle_text, (int channel), (channel))                                                         \
    X(nead, vostrelle_text, (int channel), (channel))                                                        \
    X(neb, vostrelle_text, (int channel), (channel)) /* always "" */                                         \
    X(nsa, vostrelle_text, (int channel), (channel))                                                         \
    X(nsad, vostrelle_text, (int channel), (channel))                                                        \
    X(nsb, vostrelle_text, (int channel), (channel))                                                         \
    X(rsa, int, (int channel), (channel))                  /* always 0 */                                    \
    X(rsad, double, (int channel), (channel))              /* always 0.0 */                                  \
    X(rsb, int, (int channel), (channel))                  /* last sb value */                               \
    X(sa, int, (int channel, int value), (channel, value)) /* value / 2 */                                   \
    X(sad, double, (int channel, double value), (channel, value))                                            \
    X(sb, int, (int channel, int value), (channel, value)) /* value */                                       \
    X(titre, vostrelle_text, (void), ())                                                                     \
    X(detail, vostrelle_text, (void), ())

/* The double-argument forms: stdcall, each also exported as std<name>. */
#define VOSTRELLE_DOUBLE_ENTRY_POINTS(X)                                                                     \
    X(eadouble, double, (double channel), (channel))                                                         \
    X(ebdouble, double, (double channel), (channel))                                                         \
    X(neadouble, vostrelle_text, (double channel), (channel))                                                \
    X(nebdouble, vostrelle_text, (double channel), (channel))                                                \
    X(nsadouble, vostrelle_text, (double channel), (channel))                                                \
    X(nsbdouble, vostrelle_text, (double channel), (channel))                                                \
    X(rsadouble, double, (double channel), (channel))                                                        \
    X(rsbdouble, double, (double channel), (channel))                                                        \
    X(sadouble, double, (double channel, double value), (channel, value))                                    \
    X(sbdouble, double, (double channel, double value), (channel, value))

#define VOSTRELLE_DECLARE_STDCALL_(name, result, params, args)                                               \
    VOSTRELLE_API result VOSTRELLE_STDCALL name params;                                                      \
    VOSTRELLE_API result VOSTRELLE_STDCALL std##name params;                                                 \
    typedef result(VOSTRELLE_STDCALL *vostrelle_##name##_fn) params;                                         \
    typedef result(VOSTRELLE_STDCALL *vostrelle_std##name##_fn) params;

#define VOSTRELLE_DECLARE_CDECL_(name, result, params, args)                                                 \
    VOSTRELLE_API result VOSTRELLE_CDECL c##name params;                                                     \
    typedef result(VOSTRELLE_CDECL *vostrelle_c##name##_fn) params;

VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_DECLARE_STDCALL_)
VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_DECLARE_CDECL_)
VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_DECLARE_STDCALL_)

#ifdef __cplusplus
}
#endif

#endif /* VOSTRELLE_H */
