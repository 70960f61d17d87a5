// The udev rule made from a board's USB attributes.
#include <gtest/gtest.h>

#include "udev_rule.h"

namespace {

using vostrelle::probe::usb_identity;

TEST(UdevRule, MatchesTheBoardByItsIdsAndSerial)
{
    const usb_identity board{"2341", "8036", "Quenardel", "Vostrelle", "VS0042"};
    EXPECT_EQ(
        vostrelle::probe::udev_rule_for(board),
        R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="2341", ATTRS{idProduct}=="8036", )"
        R"(ATTRS{serial}=="VS0042", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1", SYMLINK+="vostrelle")");
}

TEST(UdevRule, WithoutASerialMatchesEveryBoardOfTheModel)
{
    const usb_identity board{"2341", "8036", "Quenardel", "Vostrelle", ""};
    EXPECT_EQ(vostrelle::probe::udev_rule_for(board).find("serial"), std::string::npos);
}

TEST(UdevRule, ValuesThatWouldBreakTheQuotingAreNotPlain)
{
    EXPECT_TRUE(vostrelle::probe::plain_udev_value("VS0042"));
    for (const char *value : {"a\"b", "a\\b", "a\nb", "a\rb"})
        EXPECT_FALSE(vostrelle::probe::plain_udev_value(value)) << value;
}

} // namespace
