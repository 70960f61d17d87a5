// The text exposition format, the bearer check and the scrape's answer.
#include "metrics.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <span>

#include "text.h"

namespace vostrelle::tools {

namespace {

std::string escaped_label(std::string_view value)
{
    std::string text;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            text += '\\';
        text += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return text;
}

std::string sample_line(const std::string &name, const metric_sample &sample)
{
    std::string line = name;
    for (std::size_t k = 0; k < sample.labels.size(); ++k)
        line += (k == 0 ? "{" : ",") + sample.labels[k].first + "=\"" +
                escaped_label(sample.labels[k].second) + "\"";
    char value[32];
    (void)std::snprintf(value, sizeof value, "%.10g", sample.value);
    return line + (sample.labels.empty() ? " " : "} ") + value + "\n";
}

} // namespace

std::string exposition_text(const std::vector<metric_family> &families)
{
    std::string text;
    for (const metric_family &family : families) {
        text += "# HELP " + family.name + " " + family.help + "\n# TYPE " + family.name + " " + family.type +
                "\n";
        for (const metric_sample &sample : family.samples)
            text += sample_line(family.name, sample);
    }
    return text;
}

namespace {

using board_counter = double (*)(const board_metrics &);

struct board_family {
    const char *name, *help, *type;
    board_counter value;
};

constexpr board_family board_families[] = {
    {"vostrelle_scans_total", "Scans of all inputs taken", "counter",
     [](const board_metrics &b) { return static_cast<double>(b.scans); }},
    {"vostrelle_missed_slots_total", "Scan slots missed (board gone, silent or late)", "counter",
     [](const board_metrics &b) { return static_cast<double>(b.missed); }},
    {"vostrelle_gaps_total", "Interruptions of the readings: runs of missed slots", "counter",
     [](const board_metrics &b) { return static_cast<double>(b.gaps); }},
    {"vostrelle_board_answering", "1 while the board answers", "gauge",
     [](const board_metrics &b) { return b.answering ? 1.0 : 0.0; }},
    {"vostrelle_driver_reloads_total", "Loads of the driver again after the board came back", "counter",
     [](const board_metrics &b) { return static_cast<double>(b.reloads); }},
};

constexpr board_family broker_families[] = {
    {"vostrelle_broker_reconnects_total", "Connections to the broker made again", "counter",
     [](const board_metrics &b) { return static_cast<double>(b.broker->reconnects); }},
    {"vostrelle_readings_dropped_total", "Readings dropped while the broker was away", "counter",
     [](const board_metrics &b) { return static_cast<double>(b.broker->dropped); }},
};

metric_family input_values(const std::vector<board_metrics> &boards)
{
    metric_family family{
        "vostrelle_input_value", "Each input's latest value, in its channel's unit", "gauge", {}};
    for (const board_metrics &b : boards)
        for (const input_reading &r : b.inputs)
            family.samples.push_back(
                {{{"board", b.board}, {"input", std::to_string(r.input)}, {"unit", r.unit}}, r.value});
    return family;
}

// One family a row of `table`, one sample a board (a board with broker counts, for `of_broker`).
void add_board_families(std::vector<metric_family> &families, const std::vector<board_metrics> &boards,
                        std::span<const board_family> table, bool of_broker)
{
    for (const board_family &f : table) {
        metric_family family{f.name, f.help, f.type, {}};
        for (const board_metrics &b : boards)
            if (!of_broker || b.broker)
                family.samples.push_back({{{"board", b.board}}, f.value(b)});
        families.push_back(std::move(family));
    }
}

} // namespace

std::string boards_exposition(const std::vector<board_metrics> &boards)
{
    std::vector<metric_family> families{input_values(boards)};
    add_board_families(families, boards, board_families, false);
    if (std::any_of(boards.begin(), boards.end(),
                    [](const board_metrics &b) { return b.broker.has_value(); }))
        add_board_families(families, boards, broker_families, true);
    return exposition_text(families);
}

bool shows_bearer_token(std::string_view authorization, std::string_view token)
{
    constexpr std::string_view scheme = "Bearer ";
    if (token.empty() || !authorization.starts_with(scheme))
        return false;
    return same_secret(authorization.substr(scheme.size()), token);
}

namespace {

// The value of header `name` (lower case) in a request's head, else empty.
std::string_view header_value(std::string_view head, std::string_view name)
{
    std::size_t start = head.find("\r\n");
    while (start != std::string_view::npos && start + 2 < head.size()) {
        const std::size_t end = head.find("\r\n", start + 2);
        const std::string_view line = head.substr(start + 2, end - start - 2);
        const std::size_t colon = line.find(':');
        bool same = colon == name.size();
        for (std::size_t k = 0; same && k < colon; ++k)
            same = std::tolower(static_cast<unsigned char>(line[k])) == name[k];
        if (same)
            return line.substr(std::min(line.find_first_not_of(' ', colon + 1), line.size()));
        start = end;
    }
    return {};
}

} // namespace

metrics_reply scrape_refusal(std::string_view head, std::string_view token)
{
    const std::string_view request_line = head.substr(0, head.find("\r\n"));
    const std::string_view target = request_line.substr(request_line.find(' ') + 1);
    if (!target.starts_with("/metrics ") && !target.starts_with("/metrics?"))
        return {404, "only /metrics is served here\n"};
    if (!request_line.starts_with("GET "))
        return {405, "/metrics is read with GET\n"};
    if (!shows_bearer_token(header_value(head, "authorization"), token))
        return {401, "/metrics asks for the bearer token of --metrics-token-file\n"};
    return {0, {}};
}

std::string http_answer(const metrics_reply &reply)
{
    constexpr struct {
        int status;
        const char *text;
    } reasons[] = {{200, "OK"}, {401, "Unauthorized"}, {404, "Not Found"}, {405, "Method Not Allowed"}};
    const char *reason = "Error";
    for (const auto &r : reasons)
        if (r.status == reply.status)
            reason = r.text;
    std::string answer =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reason + "\r\nContent-Type: " +
        std::string(reply.status == 200 ? metrics_content_type : "text/plain; charset=utf-8") +
        "\r\nContent-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n";
    if (reply.status == 401)
        answer += "WWW-Authenticate: Bearer\r\n";
    return answer + "\r\n" + reply.body;
}

} // namespace vostrelle::tools
