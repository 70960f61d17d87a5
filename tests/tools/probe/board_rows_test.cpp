// The rows of a recording of several boards, merged from each board's parts.
#include <gtest/gtest.h>

#include "board_rows.h"

namespace {

using vostrelle::probe::board_labels;
using vostrelle::probe::board_rows;
using namespace std::chrono_literals;

TEST(board_labels, name_boards_by_device_unless_two_would_share_a_name)
{
    EXPECT_EQ(board_labels({"/dev/ttyACM0", "/dev/ttyACM1"}),
              (std::vector<std::string>{"ttyACM0", "ttyACM1"}));
    EXPECT_EQ(board_labels({"/a/board", "/b/board"}), (std::vector<std::string>{"/a/board", "/b/board"}));
}

// Two boards' parts come in any order; a row waits for both, a slot one
// board missed has its cells empty, and a slot no board read has no row.
TEST(board_rows, a_slot_is_one_row_in_order_once_every_board_is_past_it)
{
    std::vector<std::string> lines;
    board_rows rows(2, 2, [&lines](const std::string &line) {
        lines.push_back(line);
        return true;
    });
    const auto start = board_rows::clock_type::time_point{} + 1h;
    rows.scanned(1, 0, start + 1ms, {"3", "4"});
    rows.passed(1, 2); // missed slot 1
    rows.scanned(0, 0, start, {"1", "2"});
    EXPECT_TRUE(lines.empty());
    rows.scanned(0, 1, start + 100ms, {"5", "6"});
    rows.passed(0, 3); // missed slot 2
    rows.passed(1, 3); // and so did board 1
    EXPECT_EQ(lines, (std::vector<std::string>{"0.000000,1,2,3,4\n", "0.100000,5,6,,\n"}));
    EXPECT_EQ(rows.first(), start);
}

TEST(board_rows, a_line_not_written_stops_the_writing)
{
    int tries = 0;
    board_rows rows(1, 1, [&tries](const std::string &) { return ++tries > 5; });
    const auto start = board_rows::clock_type::now();
    for (long long slot = 0; slot < 3; ++slot) {
        rows.scanned(0, slot, start, {"1"});
        rows.passed(0, slot + 1);
    }
    EXPECT_EQ(tries, 1);
    EXPECT_FALSE(rows.written());
}

} // namespace
