#include <climits>
#include <cstring>

#include "board_fixture.h"

namespace {

using namespace vostrelle;

class names : public test::driver_without_board {};

TEST_F(names, every_channel_has_its_text_and_the_list_ends_with_an_empty_one)
{
    struct table {
        vostrelle_nea_fn entry;
        std::vector<std::string> texts;
    };
    const std::vector<std::string> outputs{"SA0=PWM(OC1A.PD5)0..255", "SA1=freq(OC2.PD7)0..63535",
                                           "SA2=SB0=T0.PB0 0..1"};
    const table tables[] = {
        {api().nea,
         {"EA0(PA0)0..1023", "EA1(PA1)0..1023", "EA2(PA2)0..1023", "EA3(PA3)0..1023", "EA4(PA4)0..1023",
          "EA5(PA5)0..1023", "EA6(PA6)0..1023", "EA7(PA7)0..1023"}},
        {api().nead,
         {"EA0(PA0)0..5V", "EA1(PA1)0..5V", "EA2(PA2)0..5V", "EA3(PA3)0..5V", "EA4(PA4)0..5V",
          "EA5(PA5)0..5V", "EA6(PA6)0..5V", "EA7(PA7)0..5V"}},
        {api().neb, {}},
        {api().nsa, outputs},
        {api().nsad, outputs},
        {api().nsb,
         {"SB0=PB0(LED)", "SB1=PB1", "SB2=PB2", "SB3=PB3", "SB4=PB4", "SB5=PB5", "SB6=PB6", "SB7=PB7"}},
    };
    for (const auto &t : tables) {
        for (std::size_t channel = 0; channel < t.texts.size(); ++channel)
            EXPECT_EQ(t.entry(static_cast<int>(channel)), t.texts[channel]);
        for (const int outside :
             {static_cast<int>(t.texts.size()), static_cast<int>(t.texts.size()) + 1, -1, INT_MIN, INT_MAX})
            EXPECT_STREQ(t.entry(outside), "") << outside;
    }
}

TEST_F(names, title_and_detail_are_iso_8859_1_with_one_e_acute)
{
    EXPECT_STREQ(api().titre(), "Vostrelle");
    const std::string detail = api().detail();
    EXPECT_EQ(detail, "Pilote pour Vostrelle, par Quenardel, 2 f\xE9vrier 2015");
    EXPECT_EQ(std::count_if(detail.begin(), detail.end(), [](char c) { return c & 0x80; }), 1);
}

TEST_F(names, a_text_lasts_until_the_next_call_and_each_call_returns_its_own)
{
    const char *first = api().nea(0);
    EXPECT_STREQ(first, "EA0(PA0)0..1023");
    EXPECT_STREQ(api().nea(1), "EA1(PA1)0..1023");
    EXPECT_STREQ(api().nsb(9), "");
    EXPECT_STREQ(api().detail(), "Pilote pour Vostrelle, par Quenardel, 2 f\xE9vrier 2015");
    EXPECT_STREQ(api().titre(), "Vostrelle") << "a shorter text after a longer one keeps its own end";
}

class names_on_board : public test::driver_on_board {};

TEST_F(names_on_board, the_board_is_never_asked)
{
    api().sa(-1, 0x0102);
    for (int k = -1; k < 10; ++k)
        for (auto name_of : {api().nea, api().nead, api().neb, api().nsa, api().nsad, api().nsb})
            name_of(k);
    api().titre();
    api().detail();
    EXPECT_EQ(written(), test::bytes{});
    EXPECT_EQ(api().ea(8), 0x0102) << "names leave the reply bytes alone";
}

} // namespace
