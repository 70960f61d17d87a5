// The live stream a page follows: server-sent events over one chunked answer
// (an HTTP/1.0 client, which knows no chunks, reads them until the end).
#include "server_parts.h"

#include <cstdio>

namespace vostrelle::panel {

namespace {

// One chunk of the answer's chunked body: its size in hex, the text, CRLFs.
std::string chunk(const std::string &text)
{
    char size[20];
    (void)std::snprintf(size, sizeof size, "%zx\r\n", text.size()); // 16 hex digits at most
    return size + text + "\r\n";
}

bool takes_chunks(const request &req)
{
    return req.version() >= 11;
}

// The answer's head: the body follows, as long as the page stays.
std::string stream_head(const request &req)
{
    http::response<http::empty_body> head{http::status::ok, req.version()};
    harden(head);
    head.set(http::field::content_type, "text/event-stream");
    head.chunked(takes_chunks(req));
    return wire_text(head.base());
}

} // namespace

net::awaitable<void> stream_wakes::wait()
{
    if (timer_.expiry() <= net::steady_timer::clock_type::now())
        timer_.expires_after(status_every);
    boost::system::error_code ended; // cancelled, or the time ran out
    co_await timer_.async_wait(net::redirect_error(net::use_awaitable, ended));
}

// First the names, outputs, status and the history asked for, then every new
// scan, each output change and the status once a second.
net::awaitable<void> server::impl::stream(beast::tcp_stream &stream, const request &req, int history_s,
                                          bool head_only)
{
    boost::system::error_code error = co_await send(stream, stream_head(req));
    if (head_only)
        co_return;
    const counted open(pages);
    const bool chunked = takes_chunks(req);
    const std::size_t index = board_asked(req).value_or(0);
    acquisition &board = *boards[index].board;
    stream_cursor cursor{index, board.first_within(history_s), board.output_changes(),
                         std::chrono::steady_clock::now()};
    const auto history = board.scans_from(cursor.next_scan);
    std::string events = event(
        "hello", hello_json(board.names(), board.outputs(), status(index), history, boards[index].channels));
    while (!error) {
        if (!events.empty()) {
            if (chunked)
                events = chunk(events);
            error = co_await send(stream, events);
            events.clear();
        }
        co_await wakes.wait();
        events += news(cursor);
    }
}

std::string server::impl::news(stream_cursor &cursor) const
{
    std::string events;
    const acquisition &board = *boards[cursor.board].board;
    if (const auto scans = board.scans_from(cursor.next_scan); !scans.empty())
        events += event("scans", scans_json(scans));
    if (const auto changes = board.output_changes(); changes != cursor.output_changes) {
        cursor.output_changes = changes;
        events += event("outputs", outputs_json(board.outputs()));
    }
    if (const auto now = std::chrono::steady_clock::now(); now - cursor.status_sent >= status_every) {
        cursor.status_sent = now;
        events += event("status", status(cursor.board));
    }
    return events;
}

} // namespace vostrelle::panel
