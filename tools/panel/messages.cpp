#include "messages.h"

#include <chrono>
#include <ctime>

#include "text.h"

namespace vostrelle::panel {

namespace {

template <typename Items, typename Form> std::string json_array(const Items &items, Form form)
{
    std::string json = "[";
    for (const auto &item : items)
        json += (json.size() > 1 ? "," : "") + form(item);
    return json + "]";
}

constexpr const char *answer_names[] = {"whole", "one-byte", "none"};
constexpr const char *board_state_names[] = {"answering", "silent", "gone", "loading"};

// The local time of day, e.g. "14:03:12"; null when there is none.
std::string time_of_day(std::time_t when)
{
    std::tm local{};
    char text[16];
    if (when == 0 || !localtime_r(&when, &local) || !std::strftime(text, sizeof text, "%H:%M:%S", &local))
        return "null";
    return tools::json_string(text);
}

std::string number(double value)
{
    return tools::formatted("%.10g", value);
}

std::string channel_json(const std::optional<channels::channel> &c)
{
    if (!c)
        return "null";
    const auto pair = [](double a, double b) { return "[" + number(a) + "," + number(b) + "]"; };
    const auto point = [&pair](const channels::point &p) { return pair(p.volts, p.value); };
    return "{\"name\":" + tools::json_string(c->name) + ",\"unit\":" + tools::json_string(c->unit) +
           ",\"decimals\":" + std::to_string(c->decimals) + ",\"gain\":" + number(c->scaling.gain) +
           ",\"offset\":" + number(c->scaling.offset) +
           (c->scaling.points.empty() ? "" : ",\"table\":" + json_array(c->scaling.points, point)) +
           ",\"limits\":" + (c->limits ? pair((*c->limits)[0], (*c->limits)[1]) : "null") + "}";
}

} // namespace

std::string channels_json(const input_channels &inputs)
{
    return json_array(inputs, channel_json);
}

std::string outputs_json(const output_state &outputs)
{
    return "{\"pwm\":" + std::to_string(outputs.pwm) + ",\"frequency\":" + std::to_string(outputs.frequency) +
           ",\"lines\":" + json_array(outputs.lines, [](int value) { return std::to_string(value); }) + "}";
}

std::string status_json(const board_status &status, const panel_facts &facts, int pages)
{
    const auto flag = [](bool on) { return on ? "true" : "false"; };
    return "{\"device\":" + tools::json_string(facts.device) + ",\"simulated\":" + flag(facts.simulated) +
           ",\"answer\":\"" + answer_names[static_cast<int>(status.answer)] +
           "\",\"rate\":" + tools::formatted("%.2f", status.scan_rate) +
           ",\"missed\":" + std::to_string(status.missed) +
           ",\"recording\":{\"on\":" + flag(status.recording.on) +
           ",\"rows\":" + std::to_string(status.recording.rows) + ",\"full\":" + flag(status.recording.full) +
           "},\"pages\":" + std::to_string(pages) + ",\"board\":\"" +
           board_state_names[static_cast<int>(status.board)] + "\",\"since\":" + time_of_day(status.since) +
           "}";
}

std::string scans_json(const std::vector<scan> &scans)
{
    const auto seconds = [](const scan &s) { return tools::formatted("%.3f", s.seconds); };
    std::string json = "{\"t\":" + json_array(scans, seconds) + ",\"v\":[";
    for (int k = 0; k < input_count; ++k) {
        const auto volts = [k](const scan &s) { return tools::formatted("%.4f", s.volts[k]); };
        json += (k ? "," : "") + json_array(scans, volts);
    }
    return json + "]}";
}

std::string hello_json(const board_names &names, const output_state &outputs, const std::string &status,
                       const std::vector<scan> &history, const std::string &channels)
{
    const auto quoted = [](const std::string &text) { return tools::json_string(text); };
    const double interval_s = std::chrono::duration<double>(acquisition::interval).count();
    return "{\"title\":" + tools::json_string(names.title) +
           ",\"inputs\":" + json_array(names.inputs, quoted) +
           ",\"lines\":" + json_array(names.lines, quoted) +
           ",\"interval\":" + tools::formatted("%.3f", interval_s) +
           ",\"limits\":{\"pwm\":" + std::to_string(tools::board::pwm_highest) +
           ",\"frequency\":" + std::to_string(tools::board::frequency_highest) +
           "},\"outputs\":" + outputs_json(outputs) + ",\"status\":" + status +
           ",\"scans\":" + scans_json(history) + (channels.empty() ? "" : ",\"channels\":" + channels) + "}";
}

std::string event(const char *name, const std::string &json)
{
    return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

} // namespace vostrelle::panel
