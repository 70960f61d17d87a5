// The /metrics endpoint on POSIX sockets.
#include "metrics_endpoint.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "metrics.h"
#include "processes.h"

namespace vostrelle::tools {

namespace {

constexpr std::size_t longest_head = 8192;
constexpr int poll_ms = 200; // how soon a stop is noticed

using clock_type = std::chrono::steady_clock;

// The request's head, read for two seconds at most in all (a client that
// sends a byte now and then holds the one thread no longer), or until a stop.
std::string read_head(int connection, const std::atomic<bool> &stopping)
{
    const auto deadline = clock_type::now() + std::chrono::seconds(2);
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < longest_head && !stopping) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock_type::now()).count();
        pollfd readable{connection, POLLIN, 0};
        if (left <= 0 || poll(&readable, 1, static_cast<int>(std::min<long long>(left, poll_ms))) < 0)
            break;
        if (readable.revents == 0)
            continue;
        const ssize_t got = recv(connection, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0)
            break;
        head.append(buffer, static_cast<std::size_t>(got));
    }
    return head;
}

} // namespace

std::optional<listen_address> parse_listen_address(std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    listen_address address{std::string(text.substr(0, colon)), 0};
    const std::string_view port = text.substr(colon + 1);
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), address.port);
    in_addr parsed{};
    if (error != std::errc{} || end != port.data() + port.size() || port.empty() ||
        inet_pton(AF_INET, address.host.c_str(), &parsed) != 1)
        return std::nullopt;
    return address;
}

bool is_loopback(const listen_address &address)
{
    return address.host.starts_with("127.");
}

metrics_endpoint::metrics_endpoint(const listen_address &address, std::string token, gather metrics)
    : token_(std::move(token)), metrics_(std::move(metrics))
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(address.port);
    inet_pton(AF_INET, address.host.c_str(), &where.sin_addr);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0 ||
        listen(listener_, 8) != 0) {
        if (listener_ >= 0)
            close(listener_);
        throw std::runtime_error("--metrics cannot listen on " + address.host + ":" +
                                 std::to_string(address.port));
    }
    socklen_t size = sizeof where;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&where), &size);
    port_ = ntohs(where.sin_port);
    thread_ = std::thread([this] { run(); });
}

metrics_endpoint::~metrics_endpoint()
{
    stopping_ = true;
    thread_.join();
    close(listener_);
}

void metrics_endpoint::run()
{
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (poll(&waiting, 1, poll_ms) != 1)
            continue;
        const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        const timeval send_limit{2, 0}; // for a client that does not read its answer
        setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
        answer(connection);
        close(connection);
    }
}

void metrics_endpoint::answer(int connection)
{
    const std::string head = read_head(connection, stopping_);
    metrics_reply reply = scrape_refusal(head, token_);
    if (reply.status == 0)
        reply = {200, metrics_()};
    const std::string text = http_answer(reply);
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t wrote = send(connection, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0)
            return;
        sent += static_cast<std::size_t>(wrote);
    }
}

std::string read_token_file(const std::string &path)
{
    const auto token = read_first_line(path);
    if (!token || token->empty())
        throw std::runtime_error("cannot read a token from the file '" + path + "'");
    return *token;
}

} // namespace vostrelle::tools
