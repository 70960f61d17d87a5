// Number parsing and the recordings' CSV lines.
#include <gtest/gtest.h>

#include <vector>

#include "csv.h"
#include "text.h"

namespace {

using vostrelle::tools::parse_int;

TEST(parse_int, takes_whole_decimal_and_hexadecimal_numbers_in_range)
{
    EXPECT_EQ(parse_int("255", 0, 255), 255);
    EXPECT_EQ(parse_int("0x1F", 0, 255), 31);
    EXPECT_EQ(parse_int("-3", -5, 5), -3);
}

TEST(parse_int, refuses_anything_else)
{
    for (const char *text : {"", "256", "-1", "12a", " 1", "1.5", "0x", "on", "99999999999"})
        EXPECT_FALSE(parse_int(text, 0, 255)) << "'" << text << "'";
}

TEST(csv, header_and_lines_as_the_recordings_write_them)
{
    const std::vector<std::string> names{"EA0(PA0)0..5V", "EA3(PA3)0..5V"};
    EXPECT_EQ(vostrelle::tools::csv_header(names), "seconds,EA0(PA0)0..5V,EA3(PA3)0..5V\n");
    const std::vector<double> volts{0, 4.9853372};
    EXPECT_EQ(vostrelle::tools::csv_line(0.04, volts), "0.040000,0.000000,4.985337\n");
    const std::vector<std::string> counts{"0", "1023"};
    EXPECT_EQ(vostrelle::tools::csv_line(1.5, counts), "1.500000,0,1023\n");
}

} // namespace
