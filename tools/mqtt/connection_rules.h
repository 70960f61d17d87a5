// What the bridge decides about its broker without talking to it: the
// broker's URL, the wait before each reconnection, and the readings kept
// while it is away.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace vostrelle::mqtt {

struct broker_address {
    std::string host;
    int port = 1883;
    bool tls = false;
};

// mqtt://HOST[:PORT] (port 1883) or mqtts://HOST[:PORT] (port 8883); nothing
// for any other text.
std::optional<broker_address> parse_broker_url(std::string_view url);

// The wait before reconnection attempt `attempt` (0 for the first): one
// second, doubled each time, at most a minute.
std::chrono::milliseconds reconnect_delay(int attempt);

struct reading {
    std::string topic, payload;
};

// Readings taken while the broker is away: the last `capacity` are kept
// for delivery once it is back, the others dropped and counted.
class held_readings {
public:
    explicit held_readings(std::size_t capacity) : capacity_(capacity) {}

    void hold(reading r);
    std::deque<reading> take(); // the kept ones, oldest first; none after
    long long dropped() const { return dropped_; }

private:
    std::size_t capacity_;
    std::deque<reading> kept_;
    long long dropped_ = 0;
};

} // namespace vostrelle::mqtt
