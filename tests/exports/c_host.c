/* A host written in C, linked against libvostrelle.so through its header,
 * calling every one of the 71 entry points with no board attached. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vostrelle.h>

static int failures;

#define CHECK(condition)                                                                                     \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition);                          \
            ++failures;                                                                                      \
        }                                                                                                    \
    } while (0)

#define CHECK_TEXT(call, text) CHECK(strcmp((call), (text)) == 0)

static const char detail_text[] = "Pilote pour Vostrelle, par Quenardel, 2 f\xE9vrier 2015";

static void names(void)
{
    CHECK_TEXT(nea(3), "EA3(PA3)0..1023");
    CHECK_TEXT(cnea(2), "EA2(PA2)0..1023");
    CHECK_TEXT(stdnea(2), "EA2(PA2)0..1023");
    CHECK_TEXT(nead(3), "EA3(PA3)0..5V");
    CHECK_TEXT(cnead(0), "EA0(PA0)0..5V");
    CHECK_TEXT(stdnead(7), "EA7(PA7)0..5V");
    CHECK_TEXT(neb(0), "");
    CHECK_TEXT(cneb(1), "");
    CHECK_TEXT(stdneb(2), "");
    CHECK_TEXT(nsa(0), "SA0=PWM(OC1A.PD5)0..255");
    CHECK_TEXT(cnsa(1), "SA1=freq(OC2.PD7)0..63535");
    CHECK_TEXT(stdnsa(2), "SA2=SB0=T0.PB0 0..1");
    CHECK_TEXT(nsad(3), "");
    CHECK_TEXT(cnsad(2), "SA2=SB0=T0.PB0 0..1");
    CHECK_TEXT(stdnsad(0), "SA0=PWM(OC1A.PD5)0..255");
    CHECK_TEXT(nsb(0), "SB0=PB0(LED)");
    CHECK_TEXT(cnsb(7), "SB7=PB7");
    CHECK_TEXT(stdnsb(8), "");
    CHECK_TEXT(titre(), "Vostrelle");
    CHECK_TEXT(ctitre(), "Vostrelle");
    CHECK_TEXT(stdtitre(), "Vostrelle");
    CHECK_TEXT(detail(), detail_text);
    CHECK_TEXT(cdetail(), detail_text);
    CHECK_TEXT(stddetail(), detail_text);
    CHECK_TEXT(neadouble(2.5), "EA3(PA3)0..5V");
    CHECK_TEXT(stdneadouble(2.5), "EA3(PA3)0..5V");
    CHECK_TEXT(nebdouble(0.0), "");
    CHECK_TEXT(stdnebdouble(1.0), "");
    CHECK_TEXT(nsadouble(0.6), "SA1=freq(OC2.PD7)0..63535");
    CHECK_TEXT(stdnsadouble(2.0), "SA2=SB0=T0.PB0 0..1");
    CHECK_TEXT(nsbdouble(0.2), "SB0=PB0(LED)");
    CHECK_TEXT(stdnsbdouble(6.5), "SB7=PB7");
}

static void outputs_and_readings(void)
{
    /* With no board, the reply bytes hold what the last sa left. */
    CHECK(sa(1, 1000) == 500);
    CHECK(ea(0) == 1000);
    CHECK(ead(0) == 1000 * 5.0 / 1023);
    CHECK(csa(5, 123) == 61);
    CHECK(cea(0) == 123);
    CHECK(stdsa(0, 513) == 256);
    CHECK(stdea(8) == 513);
    CHECK(cead(8) == 513 * 5.0 / 1023);
    CHECK(stdead(8) == 513 * 5.0 / 1023);
    CHECK(eadouble(3.2) == 513 * 5.0 / 1023);
    CHECK(stdeadouble(-0.2) == 513 * 5.0 / 1023);
    CHECK(eb(0) == -777 && ceb(5) == -777 && stdeb(-3) == -777);
    CHECK(ebdouble(1.0) == -777.0 && stdebdouble(NAN) == -777.0);
    CHECK(sad(0, 99.5) == 50.0);
    CHECK(csad(0, 99.5) == 50.0);
    CHECK(stdsad(0, 99.5) == 50.0);
    CHECK(sadouble(0.4, 99.5) == 50.0);
    CHECK(stdsadouble(0.4, 99.5) == 50.0);
    CHECK(sb(3, 5) == 5 && rsb(3) == 5);
    CHECK(csb(0, 70000) == 70000 && crsb(0) == 4464);
    CHECK(stdsb(0, 40000) == 40000 && stdrsb(0) == -25536);
    CHECK(sbdouble(2.6, 1.5) == 2.0 && rsbdouble(3.0) == 2.0);
    CHECK(stdsbdouble(8.0, -2.5) == -3.0 && stdrsbdouble(8.0) == -3.0);
    CHECK(rsa(0) == 0 && crsa(1) == 0 && stdrsa(2) == 0);
    CHECK(rsad(0) == 0.0 && crsad(1) == 0.0 && stdrsad(2) == 0.0);
    CHECK(rsadouble(1.0) == 0.0 && stdrsadouble(2.0) == 0.0);
}

int main(void)
{
    names();
    outputs_and_readings();
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures != 0;
}
