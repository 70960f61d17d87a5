// The c… and std… names answer exactly as the entry points they name, and
// stdsad alone writes its line.
#include <climits>
#include <cmath>

#include "board_fixture.h"

namespace {

using namespace vostrelle;
using test::bytes;

class families : public test::driver_on_board {};

TEST_F(families, every_form_of_an_entry_point_gives_the_same_answer)
{
    const auto &e = api();
    board.set_input(2, 777);
    board.set_input(7, 555);
    for (const int k : {0, 2, 7, 8, -1, INT_MIN}) {
        // Outside 0..7 nothing is sent: the reply bytes hold the 41 that the
        // sa calls at the end of the previous round left there.
        const int count = k == 2 ? 777 : k == 7 ? 555 : k == 0 ? 0 : 41;
        const double volts = count * 5.0 / 1023;
        for (const auto count_of : {e.ea, e.stdea})
            EXPECT_EQ(count_of(k), count) << k;
        EXPECT_EQ(e.cea(k), count) << k;
        for (const auto volts_of : {e.ead, e.stdead})
            EXPECT_EQ(volts_of(k), volts) << k;
        EXPECT_EQ(e.cead(k), volts) << k;
        EXPECT_EQ(e.ceb(k), -777);
        EXPECT_EQ(e.stdeb(k), -777);
        for (const auto &[c, std_form, base] : {std::tuple{e.cnea, e.stdnea, e.nea},
                                                {e.cnead, e.stdnead, e.nead},
                                                {e.cneb, e.stdneb, e.neb},
                                                {e.cnsa, e.stdnsa, e.nsa},
                                                {e.cnsad, e.stdnsad, e.nsad},
                                                {e.cnsb, e.stdnsb, e.nsb}}) {
            const std::string expected = base(k);
            EXPECT_EQ(c(k), expected);
            EXPECT_EQ(std_form(k), expected);
        }
        EXPECT_EQ(e.crsa(k), 0);
        EXPECT_EQ(e.stdrsa(k), 0);
        EXPECT_EQ(e.crsad(k), 0.0);
        EXPECT_EQ(e.stdrsad(k), 0.0);
        EXPECT_EQ(e.csb(k, 3), 3);
        EXPECT_EQ(e.crsb(k), e.rsb(k));
        EXPECT_EQ(e.stdsb(k, -4), -4);
        EXPECT_EQ(e.stdrsb(k), e.rsb(k));
        EXPECT_EQ(e.csa(k, 41), 20);
        EXPECT_EQ(e.stdsa(k, 41), 20);
    }
    EXPECT_STREQ(e.ctitre(), "Vostrelle");
    EXPECT_STREQ(e.stdtitre(), "Vostrelle");
    EXPECT_EQ(std::string(e.cdetail()), e.detail());
    EXPECT_EQ(std::string(e.stddetail()), e.detail());
    EXPECT_STREQ(e.cnea(2), "EA2(PA2)0..1023");
    EXPECT_STREQ(e.stdneadouble(2.5), "EA3(PA3)0..5V");
}

TEST_F(families, double_forms_under_std_names_match_their_targets)
{
    const auto &e = api();
    board.set_input(3, 900);
    for (const double x : {3.2, 2.5, -0.4, 7.49, 8.0, std::nan(""), 1e300}) {
        // 3.2 and 2.5 round to channel 3; the rest to channels with input 0.
        const double volts = x == 3.2 || x == 2.5 ? 900 * 5.0 / 1023 : 0.0;
        EXPECT_EQ(e.eadouble(x), volts) << x;
        EXPECT_EQ(e.stdeadouble(x), volts) << x;
        EXPECT_EQ(e.stdebdouble(x), -777.0);
        EXPECT_EQ(e.stdrsadouble(x), 0.0);
        EXPECT_EQ(e.stdrsbdouble(x), e.rsbdouble(x));
        EXPECT_EQ(std::string(e.stdnsadouble(x)), e.nsadouble(x));
        EXPECT_EQ(std::string(e.stdnsbdouble(x)), e.nsbdouble(x));
        EXPECT_EQ(std::string(e.stdnebdouble(x)), "");
        EXPECT_EQ(e.stdsbdouble(8.0, x), e.sbdouble(8.0, x));
    }
    EXPECT_EQ(e.ead(3), 900 * 5.0 / 1023);
}

TEST_F(families, stdsad_alone_announces_itself_on_standard_output)
{
    test::standard_output_capture capture;
    EXPECT_EQ(api().stdsad(0, 99.5), 50.0);
    EXPECT_EQ(api().csad(0, 99.5), 50.0);
    EXPECT_EQ(api().sad(0, 99.5), 50.0);
    EXPECT_EQ(api().stdsadouble(0.4, 99.5), 50.0);
    EXPECT_EQ(api().sadouble(0.4, 99.5), 50.0);
    EXPECT_EQ(api().stdsad(-3, 1.0), 0.0);
    EXPECT_EQ(capture.finish(), "dans stdsad\ndans stdsad\n");
    EXPECT_EQ(written(), (bytes{'q', 100, 'q', 100, 'q', 100, 'q', 100, 'q', 100}));
}

} // namespace
