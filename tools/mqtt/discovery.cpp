// Discovery configs as JSON, written field by field.
#include "discovery.h"

#include <map>

#include "text.h"

namespace vostrelle::mqtt {

namespace {

using tools::json_string;

// A device class Home Assistant knows, for the units that name one. A
// percentage names none: a level or a position is as likely as humidity.
std::string device_class_of(const std::string &unit)
{
    static const std::map<std::string, std::string> classes{
        {"V", "voltage"},  {"mV", "voltage"},  {"°C", "temperature"}, {"°F", "temperature"}, {"A", "current"},
        {"mA", "current"}, {"Pa", "pressure"}, {"hPa", "pressure"},   {"lx", "illuminance"}};
    const auto found = classes.find(unit);
    return found == classes.end() ? "" : found->second;
}

std::string device_json(const board_facts &board)
{
    return "{\"identifiers\":[" + json_string("vostrelle_" + board.id) +
           "],\"name\":" + json_string(board.title) + ",\"model\":" + json_string(board.detail) +
           ",\"manufacturer\":\"Vostrelle\",\"serial_number\":" + json_string(board.serial) +
           ",\"sw_version\":" + json_string(board.version) + "}";
}

// The fields every entity carries: name, unique_id, device, availability.
std::string common_fields(const board_topics &topics, const board_facts &board, const std::string &name,
                          const std::string &object)
{
    return "{\"name\":" + json_string(name) +
           ",\"unique_id\":" + json_string("vostrelle_" + board.id + "_" + object) +
           ",\"object_id\":" + json_string("vostrelle_" + board.id + "_" + object) +
           ",\"device\":" + device_json(board) + ",\"availability_topic\":" + json_string(topics.status()) +
           ",\"payload_available\":\"online\",\"payload_not_available\":\"offline\"" +
           // "board gone" is unavailable too
           ",\"availability_template\":\"{{ 'online' if value == 'online' else 'offline' }}\"";
}

message config(const std::string &prefix, const char *component, const board_facts &board,
               const std::string &object, const std::string &json)
{
    return {prefix + "/" + component + "/vostrelle_" + board.id + "/" + object + "/config", json + "}"};
}

message sensor(const std::string &prefix, const board_topics &topics, const board_facts &board, int k)
{
    const input_facts &input = board.inputs[k];
    std::string json = common_fields(topics, board, input.name, "input" + std::to_string(k)) +
                       ",\"state_topic\":" + json_string(topics.input(k)) +
                       ",\"unit_of_measurement\":" + json_string(input.unit) +
                       ",\"state_class\":\"measurement\"" +
                       ",\"suggested_display_precision\":" + std::to_string(input.decimals);
    if (const std::string device_class = device_class_of(input.unit); !device_class.empty())
        json += ",\"device_class\":" + json_string(device_class);
    return config(prefix, "sensor", board, "input" + std::to_string(k), json);
}

message line_switch(const std::string &prefix, const board_topics &topics, const board_facts &board,
                    const std::string &name, const std::string &object, const std::string &state)
{
    const std::string json =
        common_fields(topics, board, name, object) + ",\"state_topic\":" + json_string(state) +
        ",\"command_topic\":" + json_string(state + "/set") +
        ",\"payload_on\":\"1\",\"payload_off\":\"0\",\"state_on\":\"1\",\"state_off\":\"0\"";
    return config(prefix, "switch", board, object, json);
}

message number(const std::string &prefix, const board_topics &topics, const board_facts &board,
               const std::string &object, const std::string &state, int highest)
{
    const std::string json = common_fields(topics, board, object == "pwm" ? "PWM" : "Frequency", object) +
                             ",\"state_topic\":" + json_string(state) +
                             ",\"command_topic\":" + json_string(state + "/set") +
                             ",\"min\":0,\"max\":" + std::to_string(highest) + ",\"step\":1,\"mode\":\"box\"";
    return config(prefix, "number", board, object, json);
}

} // namespace

std::vector<message> discovery_messages(const std::string &discovery_prefix, const board_topics &topics,
                                        const board_facts &board)
{
    namespace b = tools::board;
    std::vector<message> messages;
    messages.reserve(b::input_count + b::line_count + 3);
    for (int k = 0; k < b::input_count; ++k)
        messages.push_back(sensor(discovery_prefix, topics, board, k));
    for (int k = 0; k < b::line_count; ++k)
        messages.push_back(line_switch(discovery_prefix, topics, board, "Line " + std::to_string(k),
                                       "line" + std::to_string(k), topics.line(k)));
    messages.push_back(line_switch(discovery_prefix, topics, board, "LED", "led", topics.led()));
    messages.push_back(number(discovery_prefix, topics, board, "pwm", topics.pwm(), b::pwm_highest));
    messages.push_back(
        number(discovery_prefix, topics, board, "frequency", topics.frequency(), b::frequency_highest));
    return messages;
}

} // namespace vostrelle::mqtt
