#include <utility> // before Asio: Boost 1.74's awaitable.hpp uses std::exchange without including it

#include "server.h"

#include <boost/asio.hpp>
#include <boost/beast.hpp>
#include <set>
#include <thread>

#include "access.h"
#include "page_files.h"
#include "text.h"

namespace vostrelle::panel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using request = http::request<http::string_body>;
using response = http::response<http::string_body>;
using namespace std::chrono_literals;

namespace {

constexpr int connection_limit = 64;
constexpr auto request_time_limit = 30s; // to send a whole request
constexpr auto write_time_limit = 10s;   // for a page to take what it was sent
constexpr std::uint64_t body_limit = 64; // a POST carries one number
constexpr auto status_every = 1s;
constexpr int longest_history_s = 600;

// On every answer: nothing kept in caches, nothing shown inside another
// site's frame, no Referer that would carry the token, scripts and styles
// only from the panel itself. No cross-origin headers, ever.
void harden(http::fields &fields)
{
    fields.set(http::field::server, "vostrelle-panel");
    fields.set(http::field::cache_control, "no-store");
    fields.set("X-Content-Type-Options", "nosniff");
    fields.set("X-Frame-Options", "DENY");
    fields.set("Referrer-Policy", "no-referrer");
    fields.set("Content-Security-Policy",
               "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'; form-action 'none'");
}

response answer_with(const request &req, http::status status, std::string_view type, std::string body)
{
    response res{status, req.version()};
    harden(res);
    res.set(http::field::content_type, type);
    res.body() = std::move(body);
    res.keep_alive(req.keep_alive());
    res.prepare_payload();
    return res;
}

response refuse(const request &req, http::status status, const std::string &reason)
{
    return answer_with(req, status, "text/plain; charset=utf-8", reason + "\n");
}

response json(const request &req, const std::string &body)
{
    return answer_with(req, http::status::ok, "application/json", body);
}

std::string_view path_of(const request &req) { return req.target().substr(0, req.target().find('?')); }

std::string_view query_of(const request &req)
{
    const auto mark = req.target().find('?');
    return mark == std::string_view::npos ? std::string_view{} : req.target().substr(mark + 1);
}

response read_only(const request &req)
{
    response res = refuse(req, http::status::method_not_allowed, std::string(path_of(req)) + " takes GET only");
    res.set(http::field::allow, "GET");
    return res;
}

// The printed link, opened: its token to exchange for the cookie.
bool is_exchange(const request &req)
{
    return req.method() == http::verb::get && path_of(req) == "/" && query_of(req).starts_with("token=");
}

// The value of cookie `name`: the Cookie header is a list of name=value
// pairs separated by semicolons, which Beast's parameter list reads once a
// leading semicolon is put in front.
std::string cookie_value(const request &req, const std::string &name)
{
    const auto header = req.find(http::field::cookie);
    if (header == req.end())
        return {};
    const std::string list = ";" + std::string(header->value());
    for (const auto &[key, value] : http::param_list(list))
        if (key == name)
            return std::string(value);
    return {};
}

std::string header_value(const request &req, http::field field)
{
    const auto found = req.find(field);
    return found == req.end() ? std::string{} : std::string(found->value());
}

// Every stream's wait, ended together when there is something new to send:
// moving the one timer they all wait on cancels every wait. Used on the
// server's thread only.
class stream_wakes {
public:
    explicit stream_wakes(net::io_context &io) : timer_(io) {}

    // Until wake_all(), or `status_every` at the most.
    net::awaitable<void> wait()
    {
        if (timer_.expiry() <= net::steady_timer::clock_type::now())
            timer_.expires_after(status_every);
        boost::system::error_code ended; // cancelled, or the time ran out
        co_await timer_.async_wait(net::redirect_error(net::use_awaitable, ended));
    }
    void wake_all() { timer_.expires_after(status_every); }

private:
    net::steady_timer timer_;
};

} // namespace

struct server::impl {
    acquisition &board;
    panel_facts facts;
    net::io_context io{1};
    tcp::acceptor acceptor{io};
    std::optional<access_guard> guard;
    stream_wakes wakes{io};
    int connections = 0;
    int pages = 0; // open streams
    std::thread thread;

    struct route {
        http::verb method;
        std::string_view path; // ending in '/': one more segment follows, the handler's argument
        response (impl::*handle)(const request &, std::string_view argument);
    };
    static const route routes[];

    impl(acquisition &b, panel_facts f) : board(b), facts(std::move(f)) {}

    std::optional<std::string> listen(const std::string &address, std::uint16_t port);
    net::awaitable<void> accept_all();
    net::awaitable<void> serve(tcp::socket socket);
    net::awaitable<void> stream(beast::tcp_stream &stream, const request &req, int history_s);
    std::optional<response> refusal(const request &req) const;
    response answer(const request &req);

    response serve_file(const request &req, const page_file &file);
    response set_pwm(const request &req, std::string_view);
    response set_frequency(const request &req, std::string_view);
    response set_led(const request &req, std::string_view);
    response set_line(const request &req, std::string_view line);
    response start_recording(const request &req, std::string_view);
    response stop_recording(const request &req, std::string_view);
    response recording(const request &req, std::string_view);
    response changed(const request &req, const output_state &outputs);
    std::string status() const { return status_json(board.status(), facts, pages); }
};

const server::impl::route server::impl::routes[] = {
    {http::verb::post, "/pwm", &impl::set_pwm},
    {http::verb::post, "/frequency", &impl::set_frequency},
    {http::verb::post, "/led", &impl::set_led},
    {http::verb::post, "/line/", &impl::set_line},
    {http::verb::post, "/record/start", &impl::start_recording},
    {http::verb::post, "/record/stop", &impl::stop_recording},
    {http::verb::get, "/recording.csv", &impl::recording},
};

std::optional<std::string> server::impl::listen(const std::string &address, std::uint16_t port)
{
    boost::system::error_code error;
    tcp::resolver resolver(io);
    const auto found = resolver.resolve(address, std::to_string(port), tcp::resolver::numeric_service, error);
    if (error || found.empty())
        return "cannot find the address " + address + ": " + error.message();
    const tcp::endpoint endpoint = *found.begin();
    if (endpoint.address().is_unspecified())
        return "--listen takes the address other machines will use to reach this one (e.g. 192.168.1.20 or "
               "raspberrypi.local), not " + address + ": the panel answers only requests that name its address";
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error)
        return "cannot listen on " + address + " port " + std::to_string(port) + ": " + error.message() +
               (error == net::error::address_in_use ? " (another panel? choose another with --port)" : "");

    const std::string bound_port = std::to_string(acceptor.local_endpoint().port());
    const auto bracketed = [](const net::ip::address &a) { return a.is_v6() ? "[" + a.to_string() + "]" : a.to_string(); };
    const bool numeric = bracketed(endpoint.address()) == address || endpoint.address().to_string() == address;
    std::vector<std::string> authorities{(numeric ? bracketed(endpoint.address()) : address) + ":" + bound_port};
    if (!numeric)
        authorities.push_back(bracketed(endpoint.address()) + ":" + bound_port);
    if (endpoint.address().is_loopback())
        authorities.push_back("localhost:" + bound_port);
    guard.emplace(std::move(authorities));
    return std::nullopt;
}

net::awaitable<void> server::impl::accept_all()
{
    for (;;) {
        boost::system::error_code error;
        tcp::socket socket = co_await acceptor.async_accept(net::redirect_error(net::use_awaitable, error));
        if (error == net::error::operation_aborted)
            co_return;
        if (error || connections >= connection_limit)
            continue; // the socket closes as it goes
        net::co_spawn(io, serve(std::move(socket)), net::detached);
    }
}

net::awaitable<void> server::impl::serve(tcp::socket socket)
{
    ++connections;
    struct counted {
        int &count;
        ~counted() { --count; }
    } release{connections};
    beast::tcp_stream stream(std::move(socket));
    beast::flat_buffer buffer;
    for (;;) {
        http::request_parser<http::string_body> parser;
        parser.body_limit(body_limit);
        stream.expires_after(request_time_limit);
        boost::system::error_code error;
        co_await http::async_read(stream, buffer, parser, net::redirect_error(net::use_awaitable, error));
        if (error == http::error::end_of_stream || error == beast::error::timeout ||
            error == net::error::connection_reset || error == net::error::operation_aborted)
            break;
        response res;
        if (error) {
            res = error == http::error::body_limit
                      ? refuse(request{}, http::status::payload_too_large, "a change carries one number, not more")
                      : refuse(request{}, http::status::bad_request, "malformed request: " + error.message());
            res.keep_alive(false);
        } else {
            const request &req = parser.get();
            const auto refused = refusal(req);
            constexpr std::string_view events = "/events/";
            if (!refused && req.method() == http::verb::get && path_of(req).starts_with(events)) {
                const auto history_s = tools::parse_int(path_of(req).substr(events.size()), 0, longest_history_s);
                if (history_s) {
                    co_await this->stream(stream, req, *history_s);
                    break;
                }
                res = refuse(req, http::status::bad_request,
                             "the live stream takes the seconds of history to send first, 0 to " +
                                 std::to_string(longest_history_s) + ": /events/30");
            } else {
                res = refused ? *refused : answer(req);
            }
        }
        stream.expires_after(write_time_limit);
        co_await http::async_write(stream, res, net::redirect_error(net::use_awaitable, error));
        if (error || !res.keep_alive())
            break;
    }
    boost::system::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
}

std::optional<response> server::impl::refusal(const request &req) const
{
    const std::string host = header_value(req, http::field::host);
    if (!guard->names_this_panel(host))
        return refuse(req, http::status::forbidden,
                      "this panel answers only requests for its own address, not for Host '" + host + "'");
    if (is_exchange(req))
        return std::nullopt; // answered by answer()
    if (!guard->holds_cookie(cookie_value(req, guard->cookie_name())))
        return refuse(req, http::status::forbidden,
                      "no access: open the panel with the link that vostrelle-panel printed (it carries a token)");
    if (req.method() == http::verb::post && !access_guard::same_origin(header_value(req, http::field::origin), host))
        return refuse(req, http::status::forbidden,
                      "changes are taken only from the panel's own page, not from Origin '" +
                          header_value(req, http::field::origin) + "'");
    return std::nullopt;
}

response server::impl::answer(const request &req)
{
    const std::string_view path = path_of(req);
    if (is_exchange(req)) {
        const bool let_in = guard->holds_cookie(cookie_value(req, guard->cookie_name())) ||
                            guard->exchange(query_of(req).substr(6));
        if (!let_in)
            return refuse(req, http::status::forbidden,
                          "this link has been used already or is not this panel's: each link that vostrelle-panel "
                          "prints opens the panel once; start vostrelle-panel again for a new one");
        response res = answer_with(req, http::status::see_other, "text/plain; charset=utf-8", "");
        res.set(http::field::location, "/"); // the token leaves the address bar and the history
        res.set(http::field::set_cookie, guard->cookie_header());
        return res;
    }
    for (const page_file &file : page_files)
        if (path == file.url)
            return req.method() == http::verb::get ? serve_file(req, file) : read_only(req);
    for (const route &r : routes) {
        const bool takes_argument = r.path.ends_with('/');
        const bool matches = takes_argument ? path.starts_with(r.path) && path.size() > r.path.size()
                                            : path == r.path;
        if (!matches)
            continue;
        if (req.method() != r.method) {
            response res = refuse(req, http::status::method_not_allowed,
                                  std::string(path) + " takes " + std::string(http::to_string(r.method)) + " only");
            res.set(http::field::allow, http::to_string(r.method));
            return res;
        }
        return (this->*r.handle)(req, takes_argument ? path.substr(r.path.size()) : std::string_view{});
    }
    return refuse(req, http::status::not_found, "the panel has no " + std::string(path));
}

response server::impl::serve_file(const request &req, const page_file &file)
{
    return answer_with(req, http::status::ok, file.type, std::string(file.body));
}

response server::impl::changed(const request &req, const output_state &outputs)
{
    wakes.wake_all(); // every page shows the change
    return json(req, outputs_json(outputs));
}

response server::impl::set_pwm(const request &req, std::string_view)
{
    const auto duty = tools::parse_int(req.body(), 0, pwm_highest);
    if (!duty)
        return refuse(req, http::status::bad_request,
                      "the PWM duty is a whole number from 0 to 255, not '" + req.body() + "'");
    return changed(req, board.set_pwm(*duty));
}

response server::impl::set_frequency(const request &req, std::string_view)
{
    const auto value = tools::parse_int(req.body(), 0, frequency_highest);
    if (!value)
        return refuse(req, http::status::bad_request,
                      "the frequency value is a whole number from 0 to 65535, not '" + req.body() + "'");
    return changed(req, board.set_frequency(*value));
}

response server::impl::set_led(const request &req, std::string_view) { return set_line(req, "0"); }

response server::impl::set_line(const request &req, std::string_view line)
{
    const auto number = tools::parse_int(line, 0, line_count - 1);
    if (!number)
        return refuse(req, http::status::not_found,
                      "the board has no line '" + std::string(line) + "': its lines are 0 to 7");
    if (req.body() != "0" && req.body() != "1")
        return refuse(req, http::status::bad_request, "a line is switched with 1 (on) or 0 (off), not '" +
                                                          req.body() + "'");
    return changed(req, board.set_line(*number, req.body() == "1"));
}

response server::impl::start_recording(const request &req, std::string_view)
{
    if (!board.start_recording())
        return refuse(req, http::status::conflict, "a recording is running already");
    wakes.wake_all();
    return json(req, status());
}

response server::impl::stop_recording(const request &req, std::string_view)
{
    if (!board.stop_recording())
        return refuse(req, http::status::conflict, "no recording is running");
    wakes.wake_all();
    return json(req, status());
}

response server::impl::recording(const request &req, std::string_view)
{
    const auto csv = board.recording_csv();
    if (!csv)
        return refuse(req, http::status::not_found, "nothing has been recorded yet: press Record first");
    response res = answer_with(req, http::status::ok, "text/csv; charset=utf-8", *csv);
    res.set(http::field::content_disposition, "attachment; filename=\"vostrelle-recording.csv\"");
    return res;
}

// Server-sent events: first the names, outputs, status and the history asked
// for, then every new scan, each output change and the status once a second.
net::awaitable<void> server::impl::stream(beast::tcp_stream &stream, const request &req, int history_s)
{
    ++pages;
    struct counted {
        int &count;
        ~counted() { --count; }
    } release{pages};
    http::response<http::empty_body> head{http::status::ok, req.version()};
    harden(head);
    head.set(http::field::content_type, "text/event-stream");
    head.chunked(true);
    http::response_serializer<http::empty_body> serializer{head};
    boost::system::error_code error;
    stream.expires_after(write_time_limit);
    co_await http::async_write_header(stream, serializer, net::redirect_error(net::use_awaitable, error));

    std::uint64_t next = board.first_within(history_s);
    std::uint64_t changes = board.output_changes();
    std::string events = event("hello", hello_json(board, status(), board.scans_from(next)));
    auto status_sent = std::chrono::steady_clock::now();
    while (!error) {
        if (!events.empty()) {
            stream.expires_after(write_time_limit);
            co_await net::async_write(stream, http::make_chunk(net::buffer(events)),
                                      net::redirect_error(net::use_awaitable, error));
            events.clear();
        }
        co_await wakes.wait();
        if (const auto scans = board.scans_from(next); !scans.empty())
            events += event("scans", scans_json(scans));
        if (const auto now_changes = board.output_changes(); now_changes != changes) {
            changes = now_changes;
            events += event("outputs", outputs_json(board.outputs()));
        }
        if (const auto now = std::chrono::steady_clock::now(); now - status_sent >= status_every) {
            status_sent = now;
            events += event("status", status());
        }
    }
}

server::server(acquisition &board, panel_facts facts) : impl_(std::make_unique<impl>(board, std::move(facts))) {}

server::~server() { stop(); }

std::optional<std::string> server::listen(const std::string &address, std::uint16_t port)
{
    return impl_->listen(address, port);
}

std::string server::url() const { return impl_->guard->url(); }

void server::start()
{
    net::co_spawn(impl_->io, impl_->accept_all(), net::detached);
    impl_->thread = std::thread([this] { impl_->io.run(); });
}

void server::stop()
{
    impl_->io.stop();
    if (impl_->thread.joinable())
        impl_->thread.join();
}

void server::wake_streams()
{
    net::post(impl_->io, [this] { impl_->wakes.wake_all(); });
}

} // namespace vostrelle::panel
