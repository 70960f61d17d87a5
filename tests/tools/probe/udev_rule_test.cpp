// The udev rule made from a board's USB attributes.
#include <gtest/gtest.h>

#include "udev_rule.h"

namespace {

using vostrelle::probe::usb_identity;

TEST(udev_rule, matches_the_board_by_its_ids_and_serial)
{
    const usb_identity board{"2341", "8036", "Quenardel", "Vostrelle", "VS0042"};
    EXPECT_EQ(
        vostrelle::probe::udev_rule_for(board),
        R"(SUBSYSTEM=="tty", ATTRS{idVendor}=="2341", ATTRS{idProduct}=="8036", )"
        R"(ATTRS{serial}=="VS0042", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1", SYMLINK+="vostrelle")");
}

TEST(udev_rule, without_a_serial_matches_every_board_of_the_model)
{
    const usb_identity board{"2341", "8036", "Quenardel", "Vostrelle", ""};
    EXPECT_EQ(vostrelle::probe::udev_rule_for(board).find("serial"), std::string::npos);
}

TEST(udev_rule, values_that_would_break_the_quoting_are_not_plain)
{
    EXPECT_TRUE(vostrelle::probe::plain_udev_value("VS0042"));
    for (const char *value : {"a\"b", "a\\b", "a\nb", "a\rb"})
        EXPECT_FALSE(vostrelle::probe::plain_udev_value(value)) << value;
}

} // namespace
