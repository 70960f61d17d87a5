// Topic names and the …/set commands read with the panel's change rules.
#include "topics.h"

#include "request_rules.h"

namespace vostrelle::mqtt {

namespace {

std::string refused(std::string_view topic, const panel::refusal &r)
{
    return std::string(topic) + ": " + r.reason;
}

template <typename Value> std::variant<command, std::string> analog(std::variant<Value, panel::refusal> read,
                                                                    output what, std::string_view topic)
{
    if (const auto *r = std::get_if<panel::refusal>(&read))
        return refused(topic, *r);
    return command{what, 0, std::get<Value>(read)};
}

std::variant<command, std::string> line(std::string_view number, std::string_view payload, output what,
                                        std::string_view topic)
{
    const auto read = panel::switch_line(number, payload);
    if (const auto *r = std::get_if<panel::refusal>(&read))
        return refused(topic, *r);
    const auto change = std::get<panel::line_change>(read);
    return command{what, change.line, change.on ? 1 : 0};
}

} // namespace

std::string topic_level(std::string_view name)
{
    std::string level(name);
    for (char &c : level)
        if (c == '/' || c == '+' || c == '#' || c == ' ' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return level.empty() ? "_" : level;
}

std::string board_name(const std::string &device, const std::optional<std::string> &serial)
{
    if (serial && !serial->empty())
        return topic_level(*serial);
    return topic_level(device.substr(device.find_last_of('/') + 1));
}

std::variant<command, std::string> read_command(const board_topics &topics, std::string_view topic,
                                                std::string_view payload)
{
    constexpr std::string_view set = "/set", line_prefix = "line/";
    std::string_view name = topic;
    if (!name.starts_with(topics.base + "/") || !name.ends_with(set))
        return std::string(topic) + ": not a command topic of this board";
    name = name.substr(topics.base.size() + 1, name.size() - topics.base.size() - 1 - set.size());
    if (name == "pwm")
        return analog(panel::pwm_duty(payload), output::pwm, topic);
    if (name == "frequency")
        return analog(panel::frequency_value(payload), output::frequency, topic);
    if (name == "led")
        return line(std::to_string(led_line), payload, output::led, topic);
    if (name.starts_with(line_prefix))
        return line(name.substr(line_prefix.size()), payload, output::line, topic);
    return std::string(topic) + ": the board has no output '" + std::string(name) +
           "': its outputs are line/0 to line/7, led, pwm and frequency";
}

} // namespace vostrelle::mqtt
