// The bridge's pure rules: topic names, …/set commands checked as the panel
// checks changes, discovery configs, the broker URL, backoff and held readings.
#include <gtest/gtest.h>

#include <set>

#include "connection_rules.h"
#include "discovery.h"
#include "topics.h"

namespace {

using namespace vostrelle::mqtt;

TEST(topics, a_board_is_named_by_its_serial_else_its_device_fit_for_one_level)
{
    EXPECT_EQ(board_name("/dev/ttyACM0", "A1B2"), "A1B2");
    EXPECT_EQ(board_name("/dev/ttyACM0", std::nullopt), "ttyACM0");
    EXPECT_EQ(board_name("/dev/ttyACM0", ""), "ttyACM0");
    EXPECT_EQ(board_name("/dev/x", "a/b+c#d e"), "a_b_c_d_e");
}

TEST(commands, each_output_takes_what_the_panel_takes_and_anything_else_is_refused_with_its_reason)
{
    const board_topics t{"vostrelle/A1"};
    const auto ok = [&t](const char *topic, const char *payload) {
        const auto read = read_command(t, topic, payload);
        const auto *c = std::get_if<command>(&read);
        return c ? std::optional(std::tuple(c->what, c->line, c->value)) : std::nullopt;
    };
    EXPECT_EQ(ok("vostrelle/A1/pwm/set", "255"), std::tuple(output::pwm, 0, 255));
    EXPECT_EQ(ok("vostrelle/A1/frequency/set", "65535"), std::tuple(output::frequency, 0, 65535));
    EXPECT_EQ(ok("vostrelle/A1/led/set", "1"), std::tuple(output::led, 0, 1));
    EXPECT_EQ(ok("vostrelle/A1/line/7/set", "0"), std::tuple(output::line, 7, 0));
    for (const auto &[topic, payload] :
         std::vector<std::pair<const char *, const char *>>{{"vostrelle/A1/pwm/set", "256"},
                                                            {"vostrelle/A1/pwm/set", "0x10"},
                                                            {"vostrelle/A1/led/set", "ON"},
                                                            {"vostrelle/A1/line/8/set", "1"},
                                                            {"vostrelle/A1/line//set", "1"},
                                                            {"vostrelle/A1/motor/set", "1"},
                                                            {"vostrelle/B2/pwm/set", "1"}})
        EXPECT_FALSE(ok(topic, payload)) << topic << " " << payload;
    EXPECT_EQ(std::get<std::string>(read_command(t, "vostrelle/A1/pwm/set", "300")),
              "vostrelle/A1/pwm/set: the PWM duty is a whole number from 0 to 255, not '300'");
    EXPECT_EQ(
        std::get<std::string>(read_command(t, "vostrelle/A1/motor/set", "1")),
        "vostrelle/A1/motor/set: the board has no output 'motor': its outputs are line/0 to line/7, led, "
        "pwm and frequency");
}

TEST(discovery, every_entity_has_the_fields_home_assistant_needs_under_one_device)
{
    board_facts board{"A1", "Vostrelle K8", "rev 2", "A1", "1.0", {}};
    board.inputs[0] = {"Greenhouse", "°C", 1};
    board.inputs[1] = {"Tank level", "%", 0};
    const auto messages = discovery_messages("homeassistant", board_topics{"vostrelle/A1"}, board);
    ASSERT_EQ(messages.size(), 19u); // 8 sensors, 8 lines, the LED, PWM, frequency
    std::set<std::string> topics;
    for (const message &m : messages) {
        topics.insert(m.topic);
        EXPECT_TRUE(m.topic.starts_with("homeassistant/") && m.topic.ends_with("/config")) << m.topic;
        for (const char *field :
             {"\"unique_id\":\"vostrelle_A1_", "\"availability_topic\":\"vostrelle/A1/status\"",
              "\"identifiers\":[\"vostrelle_A1\"]", "\"name\":\"Vostrelle K8\"", "\"model\":\"rev 2\"",
              "\"state_topic\":\"vostrelle/A1/"})
            EXPECT_NE(m.payload.find(field), std::string::npos) << m.topic << " lacks " << field;
        const bool commanded = m.topic.find("/sensor/") == std::string::npos;
        EXPECT_EQ(m.payload.find("\"command_topic\":\"vostrelle/A1/") != std::string::npos, commanded)
            << m.topic;
    }
    EXPECT_EQ(topics.size(), messages.size());
    EXPECT_NE(messages[0].payload.find("\"unit_of_measurement\":\"°C\",\"state_class\":\"measurement\","
                                       "\"suggested_display_precision\":1,\"device_class\":\"temperature\""),
              std::string::npos)
        << messages[0].payload;
    EXPECT_EQ(messages[1].payload.find("device_class"), std::string::npos) << "a percentage is not humidity";
    EXPECT_NE(messages[18].payload.find("\"min\":0,\"max\":65535"), std::string::npos);
}

TEST(connection, broker_urls_backoff_and_readings_held_while_the_broker_is_away)
{
    EXPECT_EQ(parse_broker_url("mqtt://127.0.0.1:1884")->port, 1884);
    EXPECT_EQ(parse_broker_url("mqtts://broker.lan")->port, 8883);
    EXPECT_TRUE(parse_broker_url("mqtts://broker.lan")->tls);
    for (const char *bad : {"tcp://h:1", "mqtt://", "mqtt://h:0", "mqtt://h:65536", "mqtt://h:x", "h:1883"})
        EXPECT_FALSE(parse_broker_url(bad)) << bad;

    EXPECT_EQ(reconnect_delay(0), std::chrono::seconds(1));
    EXPECT_EQ(reconnect_delay(3), std::chrono::seconds(8));
    EXPECT_EQ(reconnect_delay(40), std::chrono::seconds(60));

    held_readings held(2);
    for (const char *value : {"1", "2", "3"})
        held.hold({"t", value});
    const auto kept = held.take();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept.front().payload, "2");
    EXPECT_EQ(held.dropped(), 1);
    EXPECT_TRUE(held.take().empty());
}

} // namespace
