// The bridge's connection to the broker and what it publishes for one board.
#include "bridge.h"

#include <iostream>
#include <mosquitto.h>

#include "shown.h"

namespace vostrelle::mqtt {

namespace {

using namespace std::chrono_literals;

constexpr int keepalive_s = 30;
constexpr auto longest_wait = 100ms; // how soon a stop is noticed while the broker is away

// The status topic's text for each board_state: answering, silent, gone, loading.
constexpr const char *status_texts[] = {"online", "online", "board gone", "board gone"};

std::string client_id(const board_facts &board)
{
    return "vostrelle-mqtt-" + board.id;
}

void log(const board_facts &board, const std::string &text)
{
    std::cerr << "vostrelle-mqtt: " << board.id << ": " << text << std::endl;
}

} // namespace

client_library::client_library()
{
    mosquitto_lib_init();
}

client_library::~client_library()
{
    mosquitto_lib_cleanup();
}

board_bridge::board_bridge(const bridge_options &options, panel::acquisition &board, board_facts facts,
                           input_channels inputs)
    : options_(options), board_(board), facts_(std::move(facts)),
      inputs_(std::move(inputs)), topics_{options.prefix + "/" + facts_.id}, held_(options.queue)
{
    client_ = mosquitto_new(client_id(facts_).c_str(), true, this);
    if (client_ == nullptr)
        throw std::runtime_error("no MQTT client could be made for " + facts_.id);
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, on_connect);
    mosquitto_message_callback_set(client_, on_message);
    const std::string offline = "offline";
    mosquitto_will_set(client_, topics_.status().c_str(), static_cast<int>(offline.size()), offline.data(), 1,
                       true);
    if (!options.username.empty())
        mosquitto_username_pw_set(client_, options.username.c_str(), options.password.c_str());
    if (options.broker.tls &&
        mosquitto_tls_set(client_, options.cafile.empty() ? nullptr : options.cafile.c_str(),
                          options.cafile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                          nullptr) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("TLS cannot be set up with the CA file '" + options.cafile + "'");
}

board_bridge::~board_bridge()
{
    stop();
    mosquitto_destroy(client_);
}

void board_bridge::start()
{
    thread_ = std::thread([this] { run(); });
}

void board_bridge::stop()
{
    if (!thread_.joinable())
        return;
    stopping_ = true;
    thread_.join();
    if (connected_) {
        publish(topics_.status(), "offline", true, 1);
        mosquitto_disconnect(client_);
        mosquitto_loop(client_, 100, 1);
    }
}

// The broker's traffic between the publish ticks; a lost connection is made
// again after the backoff, while the ticks go on taking (or dropping) readings.
void board_bridge::run()
{
    const auto period =
        std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1 / options_.rate_hz));
    auto next_tick = clock::now();
    while (!stopping_) {
        if (!socket_open_ && clock::now() >= next_attempt_)
            try_connect();
        const auto until =
            std::min({next_tick, socket_open_ ? next_tick : next_attempt_, clock::now() + longest_wait});
        const auto wait_ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - clock::now()).count();
        if (!socket_open_)
            std::this_thread::sleep_until(until);
        else if (mosquitto_loop(client_, static_cast<int>(std::max<long long>(wait_ms, 0)), 1) !=
                 MOSQ_ERR_SUCCESS)
            lose_connection();
        if (clock::now() >= next_tick) {
            tick();
            next_tick = std::max(next_tick + period, clock::now() - period);
        }
    }
}

// Without blocking: the TCP connection and the TLS handshake go on inside
// mosquitto_loop, between the ticks, so a broker that never answers holds no
// reading up; the library gives up on it after the keepalive.
void board_bridge::try_connect()
{
    const auto &b = options_.broker;
    const int result = mosquitto_connect_async(client_, b.host.c_str(), b.port, keepalive_s);
    if (result == MOSQ_ERR_SUCCESS) {
        socket_open_ = true;
        return;
    }
    if (attempt_ == 0)
        log(facts_, "the broker at " + b.host + ":" + std::to_string(b.port) +
                        " does not answer: " + mosquitto_strerror(result) + "; trying again");
    next_attempt_ = clock::now() + reconnect_delay(attempt_++);
}

void board_bridge::lose_connection()
{
    if (connected_) {
        log(facts_, "the broker went away: reconnecting, the board is still read");
        lost_at_ = clock::now();
        ++reconnects_;
    }
    socket_open_ = connected_ = false;
    mosquitto_disconnect(client_);
    next_attempt_ = clock::now() + reconnect_delay(attempt_++);
}

void board_bridge::publish(const std::string &topic, const std::string &payload, bool retained, int qos)
{
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                      retained);
}

void board_bridge::on_connect(mosquitto *, void *self, int result)
{
    static_cast<board_bridge *>(self)->connected(result);
}

void board_bridge::on_message(mosquitto *, void *self, const mosquitto_message *message)
{
    static_cast<board_bridge *>(self)->received(*message);
}

void board_bridge::connected(int result)
{
    if (result != 0) {
        log(facts_, std::string("the broker refused the connection: ") + mosquitto_connack_string(result));
        attempt_ = std::max(attempt_, 3); // a refusal does not mend itself soon: the next try waits longer
        lose_connection();
        return;
    }
    connected_ = true;
    attempt_ = 0;
    mosquitto_subscribe(client_, nullptr, topics_.set_filter().c_str(), 1);
    mosquitto_subscribe(client_, nullptr, topics_.line_set_filter().c_str(), 1);
    publish_everything();
    if (reconnects_ > 0)
        log(facts_,
            "connected again after " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::seconds>(clock::now() - lost_at_).count()) +
                " s; " + std::to_string(held_.dropped()) + " readings dropped in all");
}

// After each connection: status, outputs, discovery, the readings held.
void board_bridge::publish_everything()
{
    status_.clear();
    publish_status();
    publish_outputs();
    if (options_.discovery)
        for (const message &m : discovery_messages("homeassistant", topics_, facts_))
            publish(m.topic, m.payload, true, 1);
    for (const reading &r : held_.take())
        publish(r.topic, r.payload, false, 1);
    publish(topics_.dropped(), std::to_string(held_.dropped()), true, options_.qos);
}

void board_bridge::tick()
{
    publish_readings();
    if (!connected_)
        return;
    publish_status();
    if (board_.output_changes() != output_changes_)
        publish_outputs();
}

void board_bridge::publish_status()
{
    const std::string status = status_texts[static_cast<int>(board_.status().board)];
    if (status == status_)
        return;
    if (!status_.empty())
        log(facts_, "status " + status);
    status_ = status;
    publish(topics_.status(), status_, true, 1);
}

// The newest scan since the last tick, each input in its channel's unit.
void board_bridge::publish_readings()
{
    const auto scans = board_.scans_from(next_scan_);
    if (scans.empty())
        return;
    for (int k = 0; k < tools::board::input_count; ++k) {
        reading r{topics_.input(k), channels::value_text(inputs_[k], scans.back().volts[k])};
        if (connected_)
            publish(r.topic, r.payload, false, options_.qos);
        else
            held_.hold(std::move(r));
    }
    dropped_ = held_.dropped();
}

void board_bridge::publish_outputs()
{
    // The count first: a change that lands between the two reads is then
    // published again at the next tick, never marked as sent with the old state.
    output_changes_ = board_.output_changes();
    const panel::output_state outputs = board_.outputs();
    for (int k = 0; k < tools::board::line_count; ++k)
        publish(topics_.line(k), std::to_string(outputs.lines[k]), true, options_.qos);
    publish(topics_.led(), std::to_string(outputs.lines[led_line]), true, options_.qos);
    publish(topics_.pwm(), std::to_string(outputs.pwm), true, options_.qos);
    publish(topics_.frequency(), std::to_string(outputs.frequency), true, options_.qos);
}

void board_bridge::received(const mosquitto_message &message)
{
    const std::string_view payload(static_cast<const char *>(message.payload),
                                   static_cast<std::size_t>(message.payloadlen));
    const auto read = read_command(topics_, message.topic, payload);
    if (const auto *why = std::get_if<std::string>(&read))
        refuse(*why);
    else
        obey(std::get<command>(read));
}

void board_bridge::obey(const command &c)
{
    std::optional<panel::output_state> made;
    switch (c.what) {
    case output::pwm:
        made = board_.set_pwm(c.value);
        break;
    case output::frequency:
        made = board_.set_frequency(c.value);
        break;
    case output::led:
    case output::line:
        made = board_.set_line(c.line, c.value != 0);
        break;
    }
    if (made)
        publish_outputs();
    else
        refuse(board_.unreachable_reason());
}

void board_bridge::refuse(const std::string &why)
{
    log(facts_, why);
    publish(topics_.error(), why, false, 1);
}

} // namespace vostrelle::mqtt
