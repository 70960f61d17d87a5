// Metrics in Prometheus's text exposition format (version 0.0.4), and the
// answer to a scrape, which must show the bearer token.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vostrelle::tools {

inline constexpr std::string_view metrics_content_type = "text/plain; version=0.0.4; charset=utf-8";

struct metric_sample {
    std::vector<std::pair<std::string, std::string>> labels;
    double value = 0;
};

struct metric_family {
    std::string name, help;
    std::string type; // "gauge" or "counter"
    std::vector<metric_sample> samples;
};

// # HELP, # TYPE, then one line a sample: name{label="value",…} 1.234
std::string exposition_text(const std::vector<metric_family> &families);

struct input_reading {
    int input = 0;
    std::string unit; // the channel's, "V" without one
    double value = 0;
};

struct broker_counts {
    long long reconnects = 0, dropped = 0;
};

// What one board's loop has to tell, in the panel and the bridge alike.
struct board_metrics {
    std::string board;
    std::vector<input_reading> inputs; // none when the board gave no recent scan
    long long scans = 0, missed = 0, gaps = 0, reloads = 0;
    bool answering = false;
    std::optional<broker_counts> broker; // the bridge's alone
};

// The boards' metrics as one text, each family once; the broker's families
// only when a board has broker counts.
std::string boards_exposition(const std::vector<board_metrics> &boards);

// Whether an Authorization header shows "Bearer TOKEN" with this token,
// compared in constant time.
bool shows_bearer_token(std::string_view authorization, std::string_view token);

struct metrics_reply {
    int status = 200;
    std::string body;
};

// What a request's head (request line and headers) gets: nothing (status 0)
// for GET /metrics with the token, else 401, 404 or 405 with the reason.
metrics_reply scrape_refusal(std::string_view head, std::string_view token);

// The whole HTTP/1.1 answer, the connection closed after it.
std::string http_answer(const metrics_reply &reply);

} // namespace vostrelle::tools
