// The server's connections and requests: the page and its files, the POSTs
// that drive the outputs and the recording, each checked by the access rules
// first.
#include "server_parts.h"

#include <algorithm>
#include <vector>

namespace vostrelle::panel {

using namespace std::chrono_literals;

namespace {

constexpr int connection_limit = 64;
constexpr auto request_time_limit = 30s; // to send a whole request
constexpr auto stranger_time_limit = 5s; // the same, on a connection that never showed the cookie
constexpr std::uint64_t body_limit = 64; // a POST carries one number
// A request line, a few headers and one number: whatever does not fit is
// refused before it takes more memory.
constexpr std::size_t request_buffer_limit = 16384;

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

response json(const request &req, const std::string &body)
{
    return answer_with(req, http::status::ok, "application/json", body);
}

response wrong_method(const request &req, http::verb takes)
{
    response res = refuse(req, {405, std::string(path_of(req.target())) + " takes " +
                                         std::string(http::to_string(takes)) + " only"});
    res.set(http::field::allow, http::to_string(takes));
    return res;
}

std::string_view header_of(const request &req, http::field field)
{
    const auto found = req.find(field);
    return found == req.end() ? std::string_view{} : found->value();
}

// The header a request may name once at most but names twice, if any.
std::string_view repeated_header(const request &req)
{
    for (const auto field : {http::field::host, http::field::origin})
        if (req.count(field) > 1)
            return http::to_string(field);
    return {};
}

request_facts facts_of(const request &req)
{
    return {req.method_string(),
            req.target(),
            header_of(req, http::field::host),
            header_of(req, http::field::origin),
            header_of(req, http::field::cookie),
            repeated_header(req),
            req.count(http::field::transfer_encoding) > 0};
}

// Reads a request whole; only its head when the head refuses it already.
net::awaitable<boost::system::error_code> read_request(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                                       http::request_parser<http::string_body> &parser)
{
    boost::system::error_code error;
    co_await http::async_read_header(stream, buffer, parser, net::redirect_error(net::use_awaitable, error));
    if (!error && !framing_refusal(facts_of(parser.get())))
        co_await http::async_read(stream, buffer, parser, net::redirect_error(net::use_awaitable, error));
    co_return error;
}

bool connection_ended(const boost::system::error_code &error)
{
    return error == http::error::end_of_stream || error == beast::error::timeout ||
           error == net::error::connection_reset || error == net::error::operation_aborted;
}

// A request that could not be read whole: answered, then the connection closes.
response unreadable(const boost::system::error_code &error)
{
    return error == http::error::body_limit
               ? refuse(request{}, {413, "a change carries one number, not more"})
               : refuse(request{}, {400, "malformed request: " + error.message()});
}

// The host:port forms a request may name: the one given first (as given, or
// the address in brackets when it is IPv6), then the address when a name was
// given, then localhost on this machine's loopback.
std::vector<std::string> authorities_of(const std::string &given, const net::ip::address &address,
                                        const std::string &port)
{
    const auto bracketed = [](const net::ip::address &a) {
        return a.is_v6() ? "[" + a.to_string() + "]" : a.to_string();
    };
    const bool numeric = bracketed(address) == given || address.to_string() == given;
    std::vector<std::string> authorities{(numeric ? bracketed(address) : given) + ":" + port};
    if (!numeric)
        authorities.push_back(bracketed(address) + ":" + port);
    if (address.is_loopback())
        authorities.push_back("localhost:" + port);
    return authorities;
}

} // namespace

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
    fields.set(
        "Content-Security-Policy",
        "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'; form-action 'none'");
}

net::awaitable<boost::system::error_code> send(beast::tcp_stream &stream, const std::string &bytes)
{
    boost::system::error_code error;
    stream.expires_after(write_time_limit);
    co_await net::async_write(stream, net::buffer(bytes), net::redirect_error(net::use_awaitable, error));
    co_return error;
}

response refuse(const request &req, const refusal &refused)
{
    response res = answer_with(req, static_cast<http::status>(refused.status), "text/plain; charset=utf-8",
                               refused.reason + "\n");
    res.keep_alive(false);
    return res;
}

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
               "raspberrypi.local), not " +
               address + ": the panel answers only requests that name its address";
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
    loopback = endpoint.address().is_loopback();
    guard.emplace(
        authorities_of(address, endpoint.address(), std::to_string(acceptor.local_endpoint().port())));
    return std::nullopt;
}

net::awaitable<void> server::impl::accept_all()
{
    for (;;) {
        boost::system::error_code error;
        tcp::socket socket = co_await acceptor.async_accept(net::redirect_error(net::use_awaitable, error));
        if (error == net::error::operation_aborted)
            co_return;
        if (error || (open_connections() >= connection_limit && !drop_a_stranger()))
            continue; // the socket closes as it goes
        net::co_spawn(io, serve(std::move(socket)), net::detached);
    }
}

int server::impl::open_connections() const
{
    return static_cast<int>(std::ranges::count_if(
        slots, [](const connection_slot &slot) { return slot.stream->socket().is_open(); }));
}

// Closes the oldest connection that never showed the cookie; false when there
// is none.
bool server::impl::drop_a_stranger()
{
    for (const connection_slot &slot : slots)
        if (!slot.shown_cookie && slot.stream->socket().is_open()) {
            slot.stream->close();
            return true;
        }
    return false;
}

net::awaitable<void> server::impl::serve(tcp::socket socket)
{
    beast::tcp_stream stream(std::move(socket));
    const auto slot = slots.insert(slots.end(), connection_slot{&stream});
    beast::flat_buffer buffer(request_buffer_limit);
    while (co_await serve_one(stream, buffer, *slot)) {}
    slots.erase(slot);
    boost::system::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
}

// Reads one request and answers it; false when the connection is to close.
net::awaitable<bool> server::impl::serve_one(beast::tcp_stream &stream, beast::flat_buffer &buffer,
                                             connection_slot &slot)
{
    http::request_parser<http::string_body> parser;
    parser.body_limit(body_limit);
    stream.expires_after(slot.shown_cookie ? request_time_limit : stranger_time_limit);
    const boost::system::error_code error = co_await read_request(stream, buffer, parser);
    if (connection_ended(error))
        co_return false;
    request &req = parser.get();
    const bool head_only = req.method() == http::verb::head;
    if (head_only)
        req.method(http::verb::get); // the same answer, without its body
    slot.shown_cookie = slot.shown_cookie || (!error && shows_cookie(*guard, facts_of(req)));
    if (const auto history_s = error ? std::nullopt : stream_asked(req)) {
        co_await this->stream(stream, req, *history_s, head_only);
        co_return false;
    }
    const response res = error ? unreadable(error) : respond(req);
    // Made before the co_await: GCC 12 destroys a temporary made by ?: in one twice.
    const std::string bytes = head_only ? wire_text(res.base()) : wire_text(res);
    const auto failed = co_await send(stream, bytes);
    co_return !failed && res.keep_alive();
}

// The seconds of history a request for the live stream asks for, when it
// may have the stream.
std::optional<int> server::impl::stream_asked(const request &req) const
{
    const request_facts asked = facts_of(req);
    if (!is_events(asked) || access_refusal(*guard, asked) || !board_asked(req))
        return std::nullopt;
    const auto history_s = events_history(path_of(asked.target));
    return std::holds_alternative<int>(history_s) ? std::optional(std::get<int>(history_s)) : std::nullopt;
}

response server::impl::respond(const request &req)
{
    const request_facts asked = facts_of(req);
    if (const auto refused = access_refusal(*guard, asked))
        return refuse(req, *refused);
    if (!board_asked(req))
        return refuse(req, {404, "the panel has no board " + std::string(query_of(asked.target).substr(6))});
    if (is_events(asked)) // what stream_asked() did not take
        return refuse(req, std::get<refusal>(events_history(path_of(asked.target))));
    return answer(req);
}

namespace {

// What a route's path leaves for its handler; nothing when it is not the
// route's.
std::optional<std::string_view> argument_for(std::string_view route_path, std::string_view path)
{
    if (!route_path.ends_with('/'))
        return path == route_path ? std::optional(std::string_view{}) : std::nullopt;
    if (path.starts_with(route_path) && path.size() > route_path.size())
        return path.substr(route_path.size());
    return std::nullopt;
}

} // namespace

std::optional<std::size_t> server::impl::board_asked(const request &req) const
{
    return board_of_target(req.target(), boards.size());
}

// The page's file at `path`: one page, whatever the number of boards.
const page_file *server::impl::file_at(std::string_view path) const
{
    for (const page_file &file : page_files)
        if (path == file.url)
            return &file;
    return nullptr;
}

response server::impl::answer(const request &req)
{
    if (is_exchange(facts_of(req)))
        return exchange(req);
    const std::string_view path = path_of(req.target());
    if (const page_file *file = file_at(path))
        return req.method() == http::verb::get ? serve_file(req, *file) : wrong_method(req, http::verb::get);
    for (const route &r : routes)
        if (const auto argument = argument_for(r.path, path))
            return req.method() == r.method ? (this->*r.handle)(req, *argument) : wrong_method(req, r.method);
    return refuse(req, {404, "the panel has no " + std::string(path)});
}

response server::impl::exchange(const request &req)
{
    if (const auto refused = exchange_refusal(*guard, facts_of(req)))
        return refuse(req, *refused);
    response res = answer_with(req, http::status::see_other, "text/plain; charset=utf-8", "");
    res.set(http::field::location, "/"); // the token leaves the address bar and the history
    res.set(http::field::set_cookie, guard->cookie_header());
    return res;
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

// A change the rules took, made; or their refusal.
template <typename Asked, typename Make>
response server::impl::change(const request &req, const std::variant<Asked, refusal> &asked, Make make)
{
    if (const auto *refused = std::get_if<refusal>(&asked))
        return refuse(req, *refused);
    const std::optional<output_state> made = make(std::get<Asked>(asked));
    return made ? changed(req, *made) : refuse(req, {503, board_of(req).unreachable_reason()});
}

response server::impl::set_pwm(const request &req, std::string_view)
{
    return change(req, pwm_duty(req.body()), [this, &req](int duty) { return board_of(req).set_pwm(duty); });
}

response server::impl::set_frequency(const request &req, std::string_view)
{
    return change(req, frequency_value(req.body()),
                  [this, &req](int value) { return board_of(req).set_frequency(value); });
}

response server::impl::set_led(const request &req, std::string_view)
{
    return set_line(req, "0");
}

response server::impl::set_line(const request &req, std::string_view line)
{
    return change(req, switch_line(line, req.body()),
                  [this, &req](line_change asked) { return board_of(req).set_line(asked.line, asked.on); });
}

response server::impl::start_recording(const request &req, std::string_view)
{
    if (!board_of(req).start_recording())
        return refuse(req, {409, "a recording is running already"});
    wakes.wake_all();
    return json(req, status(board_asked(req).value_or(0)));
}

response server::impl::stop_recording(const request &req, std::string_view)
{
    if (!board_of(req).stop_recording())
        return refuse(req, {409, "no recording is running"});
    wakes.wake_all();
    return json(req, status(board_asked(req).value_or(0)));
}

response server::impl::recording(const request &req, std::string_view)
{
    const auto csv = board_of(req).recording_csv();
    if (!csv)
        return refuse(req, {404, "nothing has been recorded yet: press Record first"});
    response res = answer_with(req, http::status::ok, "text/csv; charset=utf-8", *csv);
    res.set(http::field::content_disposition, "attachment; filename=\"vostrelle-recording.csv\"");
    return res;
}

server::server(std::vector<served_board> boards) : impl_(std::make_unique<impl>(std::move(boards))) {}

server::~server()
{
    stop();
}

std::optional<std::string> server::listen(const std::string &address, std::uint16_t port)
{
    return impl_->listen(address, port);
}

std::string server::url() const
{
    return impl_->guard->url();
}

std::uint16_t server::port() const
{
    return impl_->acceptor.local_endpoint().port();
}

bool server::reachable_from_network() const
{
    return !impl_->loopback;
}

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
