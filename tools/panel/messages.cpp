#include "messages.h"

#include <chrono>
#include <cstdio>

#include "text.h"

namespace vostrelle::panel {

namespace {

std::string number(const char *pattern, double value)
{
    char text[32];
    (void)std::snprintf(text, sizeof text, pattern, value); // 32 bytes hold any of these numbers
    return text;
}

template <typename Items, typename Form>
std::string json_array(const Items &items, Form form)
{
    std::string json = "[";
    for (const auto &item : items)
        json += (json.size() > 1 ? "," : "") + form(item);
    return json + "]";
}

constexpr const char *answer_names[] = {"whole", "one-byte", "none"};

} // namespace

std::string outputs_json(const output_state &outputs)
{
    return "{\"pwm\":" + std::to_string(outputs.pwm) + ",\"frequency\":" + std::to_string(outputs.frequency) +
           ",\"lines\":" + json_array(outputs.lines, [](int value) { return std::to_string(value); }) + "}";
}

std::string status_json(const board_status &status, const panel_facts &facts, int pages)
{
    return "{\"device\":" + tools::json_string(facts.device) + ",\"simulated\":" + (facts.simulated ? "true" : "false") +
           ",\"answer\":\"" + answer_names[static_cast<int>(status.answer)] + "\",\"rate\":" +
           number("%.2f", status.scan_rate) + ",\"missed\":" + std::to_string(status.missed) +
           ",\"recording\":{\"on\":" + (status.recording.on ? "true" : "false") +
           ",\"rows\":" + std::to_string(status.recording.rows) + ",\"full\":" + (status.recording.full ? "true" : "false") +
           "},\"pages\":" + std::to_string(pages) + "}";
}

std::string scans_json(const std::vector<scan> &scans)
{
    std::string json = "{\"t\":" + json_array(scans, [](const scan &s) { return number("%.3f", s.seconds); }) +
                       ",\"v\":[";
    for (int k = 0; k < input_count; ++k)
        json += (k ? "," : "") + json_array(scans, [k](const scan &s) { return number("%.4f", s.volts[k]); });
    return json + "]}";
}

std::string hello_json(const board_names &names, const output_state &outputs, const std::string &status,
                       const std::vector<scan> &history)
{
    const auto quoted = [](const std::string &text) { return tools::json_string(text); };
    return "{\"title\":" + tools::json_string(names.title) + ",\"inputs\":" + json_array(names.inputs, quoted) +
           ",\"lines\":" + json_array(names.lines, quoted) +
           ",\"interval\":" + number("%.3f", std::chrono::duration<double>(acquisition::interval).count()) +
           ",\"limits\":{\"pwm\":" + std::to_string(pwm_highest) + ",\"frequency\":" +
           std::to_string(frequency_highest) + "},\"outputs\":" + outputs_json(outputs) +
           ",\"status\":" + status + ",\"scans\":" + scans_json(history) + "}";
}

std::string event(const char *name, const std::string &json)
{
    return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

} // namespace vostrelle::panel
