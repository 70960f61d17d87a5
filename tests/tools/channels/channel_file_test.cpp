// Reading the channel file: what it gives, each fault's message with its
// line, and a calibration written into it with the rest kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "calibration_edit.h"
#include "channel_file.h"
#include "shown.h"

namespace {

using namespace vostrelle::channels;

const char *const example = R"(# the bench
[[board]]
serial = "VS0042"

[board.input.0]   # the bath
name = "bath temperature"
unit = "°C"
decimals = 1
gain = 100.0

[board.input.2]
table = [[0.4, 80.0], [1.0, 30.0], [2.5, 10.0]]

[[board]]
device = "/dev/ttyACM1"
)";

TEST(channel_file, gives_each_boards_inputs_matched_by_serial_or_device)
{
    const auto file = parse_channel_file(example, "channels.toml");
    const board_entry *bench = board_for(file, "/dev/ttyACM0", "VS0042");
    ASSERT_NE(bench, nullptr);
    const channel &bath = *bench->inputs[0];
    EXPECT_EQ(column_title(bath, "EA0"), "bath temperature (°C)");
    EXPECT_EQ(value_text(bath, 0.314), "31.4");
    EXPECT_EQ(column_title(*bench->inputs[2], "EA2(PA2)0..5V"), "EA2(PA2)0..5V (V)");
    EXPECT_FALSE(bench->inputs[1]);
    EXPECT_EQ(board_for(file, "/dev/ttyACM1", std::nullopt), &file.boards[1]);
    EXPECT_EQ(board_for(file, "/dev/ttyACM0", "VS0043"), nullptr);
}

TEST(channel_file, the_packaged_example_reads_as_its_comments_say)
{
    const auto file = find_channel_file(VOSTRELLE_EXAMPLE_CHANNELS);
    ASSERT_TRUE(file);
    const auto &inputs = file->boards.at(0).inputs;
    EXPECT_EQ(value_text(*inputs[0], 0.25), "25.0"); // 250 mV from the LM35
    EXPECT_EQ(value_text(*inputs[1], 2.5), "505");
    EXPECT_EQ(value_text(*inputs[2], 0.7), "55.000");
}

std::string error_of(const std::string &text)
{
    try {
        parse_channel_file(text, "channels.toml");
    } catch (const file_error &e) {
        return e.what();
    }
    return "no error";
}

TEST(channel_file, names_the_line_of_each_fault_and_what_to_write)
{
    const std::string board = "[[board]]\ndevice = \"/dev/ttyACM0\"\n";
    EXPECT_EQ(error_of(board + "[board.input.9]\nname = \"x\"\n"),
              "channels.toml:3: input 9 does not exist: the board has inputs 0..7");
    EXPECT_EQ(error_of(board + "[board.input.2]\ntable = [[0.4, 1.0], [2.5, 2.0], [1.0, 3.0]]\n"),
              "channels.toml:4: the table's volts must increase (1.0 after 2.5)");
    EXPECT_EQ(error_of(board + "[board.input.1]\ncalibration = [[1.2, 10.0], [1.2, 20.0]]\n"),
              "channels.toml:4: a calibration needs two different volts (both 1.2)");
    EXPECT_EQ(
        error_of(board + "[board.input.0]\ngian = 100.0\n"),
        "channels.toml:4: unknown key 'gian' in [board.input.0] (use name, unit, decimals, gain, offset, "
        "calibration, table, limits)");
    EXPECT_EQ(error_of(board + "[board.input.0]\ngain = 1.0\ntable = [[0.0, 1.0], [1.0, 2.0]]\n"),
              "channels.toml:3: one scale per input: gain and offset, or calibration, or table");
    EXPECT_EQ(error_of("[[board]]\nname = \"x\"\n").substr(0, 35), "channels.toml:2: unknown key 'name'");
    EXPECT_EQ(error_of(board + "[board.input.0\n").substr(0, 17), "channels.toml:3: ");
    EXPECT_EQ(error_of(board + "[board.input.0]\ngain = nan\n"),
              "channels.toml:4: gain must be a number, e.g. gain = 1.0");
}

TEST(channel_file, reads_inputs_written_inline_or_with_dotted_keys)
{
    const std::string board = "[[board]]\ndevice = \"/dev/ttyACM0\"\n";
    for (const std::string inputs : {"input = { 0 = { name = \"bath\", unit = \"°C\" } }\n",
                                     "[board.input]\n0 = { name = \"bath\", unit = \"°C\" }\n",
                                     "input.0.name = \"bath\"\ninput.0.unit = \"°C\"\n"}) {
        const auto file = parse_channel_file(board + inputs, "channels.toml");
        EXPECT_EQ(column_title(*file.boards.at(0).inputs[0], "EA0"), "bath (°C)") << inputs;
    }
}

TEST(calibration, replaces_the_inputs_scale_and_keeps_everything_else)
{
    const board_identity bench{"/dev/ttyACM0", "VS0042"};
    const std::string edited = with_calibration(example, "c.toml", bench, 0, {0.2, 20}, {0.6, 60});
    const auto bath = *board_for(parse_channel_file(edited, "c"), "/dev/ttyACM0", "VS0042")->inputs[0];
    EXPECT_EQ(bath.name, "bath temperature");
    EXPECT_DOUBLE_EQ(value_of(bath.scaling, 0.4), 40.0);
    EXPECT_NE(edited.find("# the bench\n"), std::string::npos);
    EXPECT_NE(edited.find("[board.input.0]   # the bath\ncalibration = [[0.2000, 20], [0.6000, 60]]\nname"),
              std::string::npos);
    EXPECT_EQ(edited.find("gain"), std::string::npos);
    // An input, then a board, not in the file yet are added.
    const auto added = parse_channel_file(with_calibration(edited, "c", bench, 5, {1, 0}, {2, 10}), "c");
    EXPECT_DOUBLE_EQ(value_of(added.boards[0].inputs[5]->scaling, 1.5), 5.0);
    const auto other = with_calibration(example, "c", {"/dev/ttyACM7", std::nullopt}, 1, {1, 0}, {2, 10});
    EXPECT_TRUE(board_for(parse_channel_file(other, "c"), "/dev/ttyACM7", std::nullopt)->inputs[1]);
}

std::string calibration_error(const std::string &text, point first, point second)
{
    try {
        with_calibration(text, "c.toml", {"/dev/ttyACM0", "VS0042"}, 0, first, second);
    } catch (const file_error &e) {
        return e.what();
    }
    return "no error";
}

TEST(calibration, refuses_equal_volts_and_tables_it_cannot_write_into_with_their_line)
{
    EXPECT_EQ(calibration_error(example, {1.2, 0}, {1.2, 10}),
              "c.toml:6: a calibration needs two different volts (both 1.2000): apply two different values; "
              "nothing written");
    const std::string board = "[[board]]\nserial = \"VS0042\"\n";
    const std::string header_wanted =
        ": calibrate writes into a table under its own header; write this one as ";
    EXPECT_EQ(
        calibration_error(board + "input = { 0 = { gain = 2.0 } }\n", {1, 0}, {2, 1}),
        "c.toml:3" + header_wanted +
            "[board.input.0] with its keys on the lines below, one a line, not as { ... } or dotted keys");
    EXPECT_EQ(calibration_error(board + "input.0.gain = 2.0\n", {1, 0}, {2, 1}).substr(0, 8), "c.toml:3");
    EXPECT_EQ(calibration_error("board = [{ serial = \"VS0042\" }]\n", {1, 0}, {2, 1}),
              "c.toml:1" + header_wanted +
                  "[[board]] with its keys on the lines below, one a line, not as { ... } or dotted keys");
    EXPECT_EQ(calibration_error("board = [{ serial = \"VS0001\" }]\n", {1, 0}, {2, 1}).substr(0, 8),
              "c.toml:1");
}

TEST(calibration, leaves_the_old_file_whole_when_the_new_one_cannot_be_written)
{
    const std::string directory = testing::TempDir() + "channels-unwritable";
    const std::string path = directory + "/channels.toml";
    std::filesystem::create_directories(path + ".new"); // in the way of the new contents, even for root
    std::ofstream(path) << example;
    EXPECT_THROW(replace_file(path, "new"), file_error);
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), example);
    std::filesystem::remove_all(directory);
}

} // namespace
