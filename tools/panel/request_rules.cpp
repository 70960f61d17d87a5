// The panel's request rules: access, the live stream's argument, changes.
#include "request_rules.h"

#include <charconv>

#include "board.h"

namespace vostrelle::panel {

namespace board = tools::board;

namespace {

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view spaces = " \t";
    const auto first = text.find_first_not_of(spaces);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(spaces) - first + 1);
}

std::string_view unquoted(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

refusal forbidden(std::string reason)
{
    return {403, std::move(reason)};
}

} // namespace

std::string_view path_of(std::string_view target)
{
    return target.substr(0, target.find('?'));
}

std::string_view query_of(std::string_view target)
{
    const auto mark = target.find('?');
    return mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1);
}

std::optional<std::size_t> board_of_target(std::string_view target, std::size_t boards)
{
    constexpr std::string_view key = "board=";
    const std::string_view query = query_of(target);
    if (!query.starts_with(key))
        return 0;
    const std::string_view number = query.substr(key.size());
    std::size_t board = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), board);
    if (error != std::errc{} || end != number.data() + number.size() || board >= boards)
        return std::nullopt;
    return board;
}

std::vector<std::string_view> cookie_values(std::string_view header, std::string_view name)
{
    std::vector<std::string_view> values;
    while (!header.empty()) {
        const auto end = header.find(';');
        const std::string_view pair = header.substr(0, end);
        header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos && trimmed(pair.substr(0, equals)) == name)
            values.push_back(unquoted(trimmed(pair.substr(equals + 1))));
    }
    return values;
}

bool shows_cookie(const access_guard &guard, const request_facts &request)
{
    for (const std::string_view value : cookie_values(request.cookies, guard.cookie_name()))
        if (guard.holds_cookie(value))
            return true;
    return false;
}

std::optional<refusal> framing_refusal(const request_facts &request)
{
    if (request.transfer_encoding)
        return refusal{501,
                       "the panel takes no Transfer-Encoding: a change carries one number, sent as it is"};
    if (!request.repeated.empty())
        return refusal{400, "a request names its " + std::string(request.repeated) + " once"};
    return std::nullopt;
}

std::optional<int> decimal(std::string_view text, int low, int high)
{
    const bool digits_only = !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    if (!digits_only || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || value < low || value > high)
        return std::nullopt;
    return value;
}

bool is_exchange(const request_facts &request)
{
    return request.method == "GET" && path_of(request.target) == "/" &&
           query_of(request.target).starts_with("token=");
}

std::optional<refusal> access_refusal(const access_guard &guard, const request_facts &request)
{
    if (auto refused = framing_refusal(request))
        return refused;
    if (!guard.names_this_panel(request.host))
        return forbidden("this panel answers only requests for its own address, not for Host '" +
                         std::string(request.host) + "'");
    if (is_exchange(request))
        return std::nullopt; // the exchange has rules of its own
    if (!shows_cookie(guard, request))
        return forbidden(
            "no access: open the panel with the link that vostrelle-panel printed (it carries a token)");
    if (request.method == "POST" && !access_guard::same_origin(request.origin, request.host))
        return forbidden("changes are taken only from the panel's own page, not from Origin '" +
                         std::string(request.origin) + "'");
    return std::nullopt;
}

std::optional<refusal> exchange_refusal(access_guard &guard, const request_facts &request)
{
    constexpr std::string_view token_key = "token=";
    if (shows_cookie(guard, request) || guard.exchange(query_of(request.target).substr(token_key.size())))
        return std::nullopt;
    return forbidden("this link has been used already or is not this panel's: each link that vostrelle-panel "
                     "prints opens the panel once; start vostrelle-panel again for a new one");
}

bool is_events(const request_facts &request)
{
    return request.method == "GET" && path_of(request.target).starts_with("/events/");
}

std::variant<int, refusal> events_history(std::string_view path)
{
    constexpr std::string_view events = "/events/";
    constexpr int longest_history_s = 600;
    if (const auto seconds = decimal(path.substr(events.size()), 0, longest_history_s))
        return *seconds;
    return refusal{400, "the live stream takes the seconds of history to send first, 0 to " +
                            std::to_string(longest_history_s) + ": /events/30"};
}

std::variant<int, refusal> pwm_duty(std::string_view body)
{
    if (const auto duty = decimal(body, 0, board::pwm_highest))
        return *duty;
    return refusal{400, "the PWM duty is a whole number from 0 to " + std::to_string(board::pwm_highest) +
                            ", not '" + std::string(body) + "'"};
}

std::variant<int, refusal> frequency_value(std::string_view body)
{
    if (const auto value = decimal(body, 0, board::frequency_highest))
        return *value;
    return refusal{400, "the frequency value is a whole number from 0 to " +
                            std::to_string(board::frequency_highest) + ", not '" + std::string(body) + "'"};
}

std::variant<line_change, refusal> switch_line(std::string_view line, std::string_view body)
{
    const auto number = decimal(line, 0, board::line_count - 1);
    if (!number)
        return refusal{404, "the board has no line '" + std::string(line) + "': its lines are 0 to " +
                                std::to_string(board::line_count - 1)};
    if (body != "0" && body != "1")
        return refusal{400, "a line is switched with 1 (on) or 0 (off), not '" + std::string(body) + "'"};
    return line_change{*number, body == "1"};
}

} // namespace vostrelle::panel
