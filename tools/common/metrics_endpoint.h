// /metrics served over plain HTTP on ADDRESS:PORT from a thread of its own,
// one short request at a time, to the scrapes that show the bearer token.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace vostrelle::tools {

struct listen_address {
    std::string host; // an IPv4 address
    std::uint16_t port = 0;
};

// "127.0.0.1:9464"; nothing for anything else.
std::optional<listen_address> parse_listen_address(std::string_view text);

// Whether only this machine reaches the address (127.0.0.0/8).
bool is_loopback(const listen_address &address);

class metrics_endpoint {
public:
    using gather = std::function<std::string()>;

    // Listens at once; a runtime_error says why it cannot.
    metrics_endpoint(const listen_address &address, std::string token, gather metrics);
    ~metrics_endpoint();
    metrics_endpoint(const metrics_endpoint &) = delete;
    metrics_endpoint &operator=(const metrics_endpoint &) = delete;

    std::uint16_t port() const { return port_; }

private:
    void run();
    void answer(int connection);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::string token_;
    gather metrics_;
    std::atomic<bool> stopping_ = false;
    std::thread thread_;
};

// The token file's first line.
std::string read_token_file(const std::string &path);

} // namespace vostrelle::tools
