// The broker's URL, the reconnection backoff, the readings held.
#include "connection_rules.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace vostrelle::mqtt {

namespace {

struct scheme {
    std::string_view prefix;
    int port;
    bool tls;
};

constexpr scheme schemes[] = {{"mqtt://", 1883, false}, {"mqtts://", 8883, true}};

std::optional<int> port_of(std::string_view text)
{
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc{} || end != text.data() + text.size() || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

std::optional<broker_address> parse_broker_url(std::string_view url)
{
    for (const scheme &s : schemes) {
        if (!url.starts_with(s.prefix))
            continue;
        const std::string_view rest = url.substr(s.prefix.size());
        const auto colon = rest.rfind(':');
        const std::string_view host = rest.substr(0, colon);
        if (host.empty() || host.find_first_of("/@ ") != std::string_view::npos)
            return std::nullopt;
        const auto port =
            colon == std::string_view::npos ? std::optional(s.port) : port_of(rest.substr(colon + 1));
        if (!port)
            return std::nullopt;
        return broker_address{std::string(host), *port, s.tls};
    }
    return std::nullopt;
}

std::chrono::milliseconds reconnect_delay(int attempt)
{
    constexpr std::chrono::milliseconds first{1000}, longest{60000};
    const int doublings = std::clamp(attempt, 0, 6);
    return std::min(first * (1 << doublings), longest);
}

void held_readings::hold(reading r)
{
    kept_.push_back(std::move(r));
    while (kept_.size() > capacity_) {
        kept_.pop_front();
        ++dropped_;
    }
}

std::deque<reading> held_readings::take()
{
    return std::exchange(kept_, {});
}

} // namespace vostrelle::mqtt
