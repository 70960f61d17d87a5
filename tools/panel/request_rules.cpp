// The panel's request rules: access, the live stream's argument, changes.
#include "request_rules.h"

#include "board.h"
#include "text.h"

namespace vostrelle::panel {

namespace board = tools::board;

namespace {

bool is_token_char(char c)
{
    constexpr std::string_view marks = "!#$%&'*+-.^_`|~";
    const bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return alphanumeric || marks.find(c) != std::string_view::npos;
}

// Inside quotes: tab, space and visible characters but '"' and '\', and any
// byte from 0x80.
bool is_quoted_char(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return c == '\t' || (byte >= 0x20 && byte != 0x7f && c != '"' && c != '\\');
}

bool is_escaped_char(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return c == '\t' || (byte >= 0x20 && byte != 0x7f);
}

// Reads the text left in `rest` as it goes.
class cookie_reader {
public:
    explicit cookie_reader(std::string_view header) : rest_(header) {}

    // The next name=value pair; false at the end or at a malformed pair.
    bool next(std::string_view &name, std::string &value)
    {
        skip_spaces();
        if (!take(';'))
            return false;
        skip_spaces();
        name = token();
        if (name.empty())
            return false;
        value.clear();
        skip_spaces();
        if (rest_.empty() || rest_.front() == ';')
            return true;
        if (!take('='))
            return false;
        skip_spaces();
        if (rest_.empty())
            return true;
        return rest_.front() == '"' ? quoted(value) : !(value = token()).empty();
    }

private:
    void skip_spaces()
    {
        while (!rest_.empty() && (rest_.front() == ' ' || rest_.front() == '\t'))
            rest_.remove_prefix(1);
    }
    bool take(char c)
    {
        if (rest_.empty() || rest_.front() != c)
            return false;
        rest_.remove_prefix(1);
        return true;
    }
    std::string_view token()
    {
        std::size_t length = 0;
        while (length < rest_.size() && is_token_char(rest_[length]))
            ++length;
        const std::string_view taken = rest_.substr(0, length);
        rest_.remove_prefix(length);
        return taken;
    }
    char take_one()
    {
        const char c = rest_.front();
        rest_.remove_prefix(1);
        return c;
    }
    // A quoted string, its quotes removed and its escapes undone, as Boost.Beast's
    // parameter list reads it; false when it is malformed.
    bool quoted(std::string &value)
    {
        rest_.remove_prefix(1);
        while (!rest_.empty()) {
            char c = take_one();
            if (c == '"')
                return true;
            if (c == '\\') {
                if (rest_.empty() || !is_escaped_char(rest_.front()))
                    return false;
                c = take_one();
            } else if (!is_quoted_char(c)) {
                return false;
            }
            value += c;
        }
        return false;
    }

    std::string_view rest_;
};

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

std::string cookie_value(std::string_view header, std::string_view name)
{
    // The header's first pair has no semicolon before it.
    const std::string list = ";" + std::string(header);
    cookie_reader reader(list);
    std::string_view key;
    std::string value;
    while (reader.next(key, value))
        if (key == name)
            return value;
    return {};
}

bool is_exchange(const request_facts &request)
{
    return request.method == "GET" && path_of(request.target) == "/" &&
           query_of(request.target).starts_with("token=");
}

std::optional<refusal> access_refusal(const access_guard &guard, const request_facts &request)
{
    if (!guard.names_this_panel(request.host))
        return forbidden("this panel answers only requests for its own address, not for Host '" +
                         std::string(request.host) + "'");
    if (is_exchange(request))
        return std::nullopt; // the exchange has rules of its own
    if (!guard.holds_cookie(cookie_value(request.cookies, guard.cookie_name())))
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
    if (guard.holds_cookie(cookie_value(request.cookies, guard.cookie_name())) ||
        guard.exchange(query_of(request.target).substr(token_key.size())))
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
    if (const auto seconds = tools::parse_int(path.substr(events.size()), 0, longest_history_s))
        return *seconds;
    return refusal{400, "the live stream takes the seconds of history to send first, 0 to " +
                            std::to_string(longest_history_s) + ": /events/30"};
}

std::variant<int, refusal> pwm_duty(std::string_view body)
{
    if (const auto duty = tools::parse_int(body, 0, board::pwm_highest))
        return *duty;
    return refusal{400, "the PWM duty is a whole number from 0 to " + std::to_string(board::pwm_highest) +
                            ", not '" + std::string(body) + "'"};
}

std::variant<int, refusal> frequency_value(std::string_view body)
{
    if (const auto value = tools::parse_int(body, 0, board::frequency_highest))
        return *value;
    return refusal{400, "the frequency value is a whole number from 0 to " +
                            std::to_string(board::frequency_highest) + ", not '" + std::string(body) + "'"};
}

std::variant<line_change, refusal> switch_line(std::string_view line, std::string_view body)
{
    const auto number = tools::parse_int(line, 0, board::line_count - 1);
    if (!number)
        return refusal{404, "the board has no line '" + std::string(line) + "': its lines are 0 to " +
                                std::to_string(board::line_count - 1)};
    if (body != "0" && body != "1")
        return refusal{400, "a line is switched with 1 (on) or 0 (off), not '" + std::string(body) + "'"};
    return line_change{*number, body == "1"};
}

} // namespace vostrelle::panel
