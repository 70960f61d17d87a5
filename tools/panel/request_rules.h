// What the panel decides about a request from its text alone: who may ask,
// what a change asks for, and the reason for every refusal. No HTTP library
// here: the server hands over the parts of the request these rules read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "access.h"

namespace vostrelle::panel {

// The parts of a request that the rules read; a header that is absent is empty.
struct request_facts {
    std::string_view method; // "GET", "POST", ...
    std::string_view target; // path and query
    std::string_view host;
    std::string_view origin;
    std::string_view cookies;       // the Cookie header
    std::string_view repeated = {}; // "Host" or "Origin" when the request names it twice
    bool transfer_encoding = false; // any Transfer-Encoding header
};

// An HTTP status and the reason given in the answer's body.
struct refusal {
    int status = 0;
    std::string reason;

    bool operator==(const refusal &) const = default;
};

std::string_view path_of(std::string_view target);
std::string_view query_of(std::string_view target);

// The board a target names with ?board=N among `boards`: 0 when it names
// none, nothing when N is not one of them.
std::optional<std::size_t> board_of_target(std::string_view target, std::size_t boards);

// The values of every cookie `name` in a Cookie header: `name=value` pairs
// separated by semicolons, spaces around them trimmed, a value in quotes
// unquoted. Whatever the other pairs hold does not matter.
std::vector<std::string_view> cookie_values(std::string_view header, std::string_view name);

// Whether the request shows this panel's cookie (one of several is enough).
bool shows_cookie(const access_guard &guard, const request_facts &request);

// What the head of a request already refuses, before its body is read: a body
// sent in any Transfer-Encoding (a change carries one number), Host or Origin
// named twice.
std::optional<refusal> framing_refusal(const request_facts &request);

// A whole number within [low, high], in decimal digits only: no sign, no
// leading zero, no hexadecimal.
std::optional<int> decimal(std::string_view text, int low, int high);

// The printed link, opened: its token to exchange for the cookie.
bool is_exchange(const request_facts &request);

// The framing, Host, cookie and Origin, in that order; nothing when the
// request may go on.
std::optional<refusal> access_refusal(const access_guard &guard, const request_facts &request);

// For the printed link: lets in a browser that holds the cookie already, or
// spends the token; the refusal otherwise.
std::optional<refusal> exchange_refusal(access_guard &guard, const request_facts &request);

// The live stream, /events/SECONDS: the seconds of history to send first.
bool is_events(const request_facts &request);
std::variant<int, refusal> events_history(std::string_view path);

// The bodies of changes, read as the board takes them.
std::variant<int, refusal> pwm_duty(std::string_view body);
std::variant<int, refusal> frequency_value(std::string_view body);
struct line_change {
    int line = 0;
    bool on = false;
};
// `line` is the path's last segment, /line/3.
std::variant<line_change, refusal> switch_line(std::string_view line, std::string_view body);

} // namespace vostrelle::panel
