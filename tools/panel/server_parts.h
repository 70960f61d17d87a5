// The server's insides, shared by its two halves: server.cpp answers requests,
// event_stream.cpp keeps the live streams.
#pragma once

#include <utility> // before Asio: Boost 1.74's awaitable.hpp uses std::exchange without including it

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <chrono>
#include <cstdint>
#include <list>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "access.h"
#include "page_files.h"
#include "request_rules.h"
#include "server.h"

namespace vostrelle::panel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using request = http::request<http::string_body>;
using response = http::response<http::string_body>;

inline constexpr auto write_time_limit = std::chrono::seconds(10); // for a page to take what it was sent
inline constexpr auto status_every = std::chrono::seconds(1);

// The headers every answer carries (see server.cpp).
void harden(http::fields &fields);
// A refusal: the connection closes after it.
response refuse(const request &req, const refusal &refused);

// Writes `bytes` whole, within write_time_limit. Every answer goes through
// here as the text Beast makes of it: one asynchronous write for the whole
// server keeps its compile time down.
net::awaitable<boost::system::error_code> send(beast::tcp_stream &stream, const std::string &bytes);
template <typename Message> std::string wire_text(const Message &message)
{
    std::ostringstream text;
    text << message;
    return std::move(text).str();
}

// Every stream's wait, ended together when there is something new to send:
// moving the one timer they all wait on cancels every wait. Used on the
// server's thread only.
class stream_wakes {
public:
    explicit stream_wakes(net::io_context &io) : timer_(io) {}

    // Until wake_all(), or `status_every` at the most.
    net::awaitable<void> wait();
    void wake_all() { timer_.expires_after(status_every); }

private:
    net::steady_timer timer_;
};

// One more open thing of a kind (connections, streams) while it lives.
class counted {
public:
    explicit counted(int &count) : count_(count) { ++count_; }
    ~counted() { --count_; }
    counted(const counted &) = delete;
    counted &operator=(const counted &) = delete;

private:
    int &count_;
};

// A connection open, and whether it has ever shown the cookie: when all the
// slots are taken, a stranger's is given up first.
struct connection_slot {
    beast::tcp_stream *stream = nullptr;
    bool shown_cookie = false;
};

// Where a live stream has got to.
struct stream_cursor {
    std::size_t board = 0;
    std::uint64_t next_scan = 0;
    std::uint64_t output_changes = 0;
    std::chrono::steady_clock::time_point status_sent;
};

struct server::impl {
    std::vector<served_board> boards;
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    std::optional<access_guard> guard;
    bool loopback = true;
    stream_wakes wakes{io};
    std::list<connection_slot> slots; // the oldest first
    int pages = 0;                    // open streams
    std::thread thread;

    struct route {
        http::verb method;
        std::string_view path; // ending in '/': one more segment follows, the handler's argument
        response (impl::*handle)(const request &, std::string_view argument);
    };
    static const route routes[];

    explicit impl(std::vector<served_board> b) : boards(std::move(b)) {}

    // The board a request names with ?board=N (the first when it names none);
    // nothing when there is no such board.
    std::optional<std::size_t> board_asked(const request &req) const;
    acquisition &board_of(const request &req) const { return *boards[board_asked(req).value_or(0)].board; }
    const page_file *file_at(std::string_view path) const;

    std::optional<std::string> listen(const std::string &address, std::uint16_t port);
    net::awaitable<void> accept_all();
    int open_connections() const;
    bool drop_a_stranger();
    net::awaitable<void> serve(tcp::socket socket);
    net::awaitable<bool> serve_one(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                   connection_slot &slot);
    std::optional<int> stream_asked(const request &req) const;
    response respond(const request &req);
    response answer(const request &req);
    response exchange(const request &req);

    net::awaitable<void> stream(beast::tcp_stream &stream, const request &req, int history_s, bool head_only);
    std::string news(stream_cursor &cursor) const;

    response serve_file(const request &req, const page_file &file);
    response set_pwm(const request &req, std::string_view);
    response set_frequency(const request &req, std::string_view);
    response set_led(const request &req, std::string_view);
    response set_line(const request &req, std::string_view line);
    response start_recording(const request &req, std::string_view);
    response stop_recording(const request &req, std::string_view);
    response recording(const request &req, std::string_view);
    template <typename Asked, typename Make>
    response change(const request &req, const std::variant<Asked, refusal> &asked, Make make);
    response changed(const request &req, const output_state &outputs);
    std::string status(std::size_t board) const
    {
        return status_json(boards[board].board->status(), boards[board].facts, pages);
    }
};

} // namespace vostrelle::panel
