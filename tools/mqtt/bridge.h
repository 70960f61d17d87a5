// One board on the broker: its own client connection (whose last will marks
// this board's status offline), its readings at the publish rate, its
// outputs' state, its …/set commands, and the reconnection when the broker
// goes away. The board is read by the panel's acquisition loop meanwhile.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "acquisition.h"
#include "channel_file.h"
#include "connection_rules.h"
#include "discovery.h"
#include "topics.h"

struct mosquitto;
struct mosquitto_message;

namespace vostrelle::mqtt {

struct bridge_options {
    broker_address broker;
    std::string username, password, cafile;
    std::string prefix = "vostrelle";
    double rate_hz = 1;
    int qos = 0;
    bool discovery = true;
    std::size_t queue = 0;
};

using input_channels = std::array<channels::channel, tools::board::input_count>;

class board_bridge {
public:
    board_bridge(const bridge_options &options, panel::acquisition &board, board_facts facts,
                 input_channels inputs);
    ~board_bridge();
    board_bridge(const board_bridge &) = delete;
    board_bridge &operator=(const board_bridge &) = delete;

    void start();
    void stop(); // publishes offline first when connected

    // For the metrics, from any thread.
    const board_facts &facts() const { return facts_; }
    const input_channels &inputs() const { return inputs_; }
    long long reconnects() const { return reconnects_; }
    long long dropped() const { return dropped_; }

private:
    using clock = std::chrono::steady_clock;

    void run();
    void try_connect();
    void lose_connection();
    void publish(const std::string &topic, const std::string &payload, bool retained, int qos);
    void tick();
    void publish_status();
    void publish_readings();
    void publish_outputs();
    void connected(int result);
    void publish_everything();
    void received(const mosquitto_message &message);
    void obey(const command &c);
    void refuse(const std::string &why);

    static void on_connect(mosquitto *, void *self, int result);
    static void on_message(mosquitto *, void *self, const mosquitto_message *message);

    const bridge_options &options_;
    panel::acquisition &board_;
    board_facts facts_;
    input_channels inputs_;
    board_topics topics_;
    mosquitto *client_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_ = false;

    // Used by the bridge's thread alone (the client's callbacks run on it).
    bool socket_open_ = false, connected_ = false;
    int attempt_ = 0;
    std::atomic<long long> reconnects_ = 0, dropped_ = 0;
    clock::time_point next_attempt_{}, lost_at_{};
    std::uint64_t next_scan_ = 0;
    std::uint64_t output_changes_ = UINT64_MAX;
    std::string status_;
    held_readings held_;
};

// The library's own start and end, once a process.
struct client_library {
    client_library();
    ~client_library();
    client_library(const client_library &) = delete;
    client_library &operator=(const client_library &) = delete;
};

} // namespace vostrelle::mqtt
