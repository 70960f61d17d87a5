// The JSON the panel's page is sent: outputs, status, scans column by column,
// the first event of a stream with the board's limits.
#include <gtest/gtest.h>

#include <algorithm>

#include "messages.h"

namespace {

using namespace vostrelle;
using namespace vostrelle::panel;

TEST(messages, outputs_and_status_are_sent_as_the_page_reads_them)
{
    output_state outputs;
    outputs.pwm = 200;
    outputs.frequency = 65535;
    outputs.lines[3] = 1;
    EXPECT_EQ(outputs_json(outputs), R"({"pwm":200,"frequency":65535,"lines":[0,0,0,1,0,0,0,0]})");

    const board_status status{host::answer::one_byte, 24.996, 3, {true, 1250, false}};
    EXPECT_EQ(status_json(status, {"/dev/pts/3 \"sim\"", true}, 2),
              R"({"device":"/dev/pts/3 \"sim\"","simulated":true,"answer":"one-byte",)"
              R"("rate":25.00,"missed":3,)"
              R"("recording":{"on":true,"rows":1250,"full":false},"pages":2,)"
              R"("board":"answering","since":null})");

    const board_status gone{host::answer::none, 0, 3, {}, board_state::gone, 1'700'000'000};
    std::string shown = status_json(gone, {"/dev/ttyACM0", false}, 1);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return c >= '0' && c <= '9'; }, 'N');
    EXPECT_TRUE(shown.ends_with(R"("board":"gone","since":"NN:NN:NN"})")) << shown;
}

TEST(messages, scans_go_column_by_column)
{
    scan first{0.04, {}}, second{0.0804, {}};
    first.volts[0] = 2.50244;
    second.volts[7] = 5;
    EXPECT_EQ(scans_json({first, second}), R"({"t":[0.040,0.080],"v":[[2.5024,0.0000],[0.0000,0.0000],)"
                                           R"([0.0000,0.0000],[0.0000,0.0000],[0.0000,0.0000],)"
                                           R"([0.0000,0.0000],[0.0000,0.0000],[0.0000,5.0000]]})");
    EXPECT_EQ(scans_json({}), R"({"t":[],"v":[[],[],[],[],[],[],[],[]]})");
}

TEST(messages, the_first_event_names_everything_and_gives_the_board_limits)
{
    board_names names;
    names.title = "Carte";
    for (int k = 0; k < input_count; ++k)
        names.inputs[k] = "EA" + std::to_string(k);
    for (int k = 0; k < line_count; ++k)
        names.lines[k] = "PB" + std::to_string(k);
    const std::string hello = hello_json(names, output_state{}, "{}", {});
    EXPECT_EQ(hello, R"({"title":"Carte","inputs":["EA0","EA1","EA2","EA3","EA4","EA5","EA6","EA7"],)"
                     R"("lines":["PB0","PB1","PB2","PB3","PB4","PB5","PB6","PB7"],"interval":0.040,)"
                     R"("limits":{"pwm":255,"frequency":65535},"outputs":{"pwm":0,"frequency":0,)"
                     R"("lines":[0,0,0,0,0,0,0,0]},"status":{},)"
                     R"("scans":{"t":[],"v":[[],[],[],[],[],[],[],[]]}})");
    EXPECT_EQ(event("hello", hello), "event: hello\ndata: " + hello + "\n\n");
}

TEST(messages, channels_carry_their_unit_scale_and_limits_and_null_where_the_file_names_none)
{
    input_channels inputs;
    const std::array limits{10.0, 40.0};
    inputs[0] = channels::channel{"bath", "°C", 1, channels::linear_scale(100, -2.5), limits};
    inputs[2] = channels::channel{"", "cm", 3, channels::table_scale({{0.4, 80}, {1, 30}}), std::nullopt};
    EXPECT_EQ(
        channels_json(inputs),
        "[{\"name\":\"bath\",\"unit\":\"°C\",\"decimals\":1,\"gain\":100,\"offset\":-2.5,"
        "\"limits\":[10,40]},null,{\"name\":\"\",\"unit\":\"cm\",\"decimals\":3,\"gain\":1,\"offset\":0,"
        "\"table\":[[0.4,80],[1,30]],\"limits\":null},null,null,null,null,null]");
    EXPECT_EQ(hello_json({}, {}, "{}", {}).find("channels"), std::string::npos); // the one-board page's hello
}

} // namespace
