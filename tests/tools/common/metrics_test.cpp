// The exposition text, the bearer check and what a scrape is answered.
#include <gtest/gtest.h>

#include "metrics.h"
#include "metrics_endpoint.h"

#include <arpa/inet.h>
#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vostrelle::tools;

TEST(metrics, families_in_the_text_format_with_label_values_escaped)
{
    const std::vector<metric_family> families{
        {"vostrelle_input_value", "Each input", "gauge", {{{{"board", "a\"b\\c\nd"}, {"unit", "°C"}}, 21.5}}},
        {"vostrelle_scans_total", "Scans", "counter", {{{}, 12}}}};
    EXPECT_EQ(exposition_text(families), "# HELP vostrelle_input_value Each input\n"
                                         "# TYPE vostrelle_input_value gauge\n"
                                         "vostrelle_input_value{board=\"a\\\"b\\\\c\\nd\",unit=\"°C\"} 21.5\n"
                                         "# HELP vostrelle_scans_total Scans\n"
                                         "# TYPE vostrelle_scans_total counter\n"
                                         "vostrelle_scans_total 12\n");
}

TEST(metrics, one_board_every_family_its_label_values_escaped_no_broker_families)
{
    const board_metrics board{
        "bench \"2\"\\left", {{0, "°C", 21.5}, {1, "V", -0.25}}, 120, 7, 2, 1, true, {}};
    EXPECT_EQ(boards_exposition({board}),
              R"(# HELP vostrelle_input_value Each input's latest value, in its channel's unit
# TYPE vostrelle_input_value gauge
vostrelle_input_value{board="bench \"2\"\\left",input="0",unit="°C"} 21.5
vostrelle_input_value{board="bench \"2\"\\left",input="1",unit="V"} -0.25
# HELP vostrelle_scans_total Scans of all inputs taken
# TYPE vostrelle_scans_total counter
vostrelle_scans_total{board="bench \"2\"\\left"} 120
# HELP vostrelle_missed_slots_total Scan slots missed (board gone, silent or late)
# TYPE vostrelle_missed_slots_total counter
vostrelle_missed_slots_total{board="bench \"2\"\\left"} 7
# HELP vostrelle_gaps_total Interruptions of the readings: runs of missed slots
# TYPE vostrelle_gaps_total counter
vostrelle_gaps_total{board="bench \"2\"\\left"} 2
# HELP vostrelle_board_answering 1 while the board answers
# TYPE vostrelle_board_answering gauge
vostrelle_board_answering{board="bench \"2\"\\left"} 1
# HELP vostrelle_driver_reloads_total Loads of the driver again after the board came back
# TYPE vostrelle_driver_reloads_total counter
vostrelle_driver_reloads_total{board="bench \"2\"\\left"} 1
)");
}

TEST(metrics, two_boards_each_family_once_the_broker_counts_where_given)
{
    const board_metrics quiet{"a", {}, 0, 50, 0, 0, false, broker_counts{3, 40}};
    const board_metrics busy{"b", {{7, "kPa", 101.3}}, 9, 0, 0, 0, true, {}};
    const std::string text = boards_exposition({quiet, busy});
    for (const char *family :
         {"# TYPE vostrelle_input_value gauge\nvostrelle_input_value{board=\"b\",input=\"7\"",
          "\nvostrelle_board_answering{board=\"a\"} 0\nvostrelle_board_answering{board=\"b\"} 1\n",
          "\nvostrelle_broker_reconnects_total{board=\"a\"} 3\n# HELP",
          "\nvostrelle_readings_dropped_total{board=\"a\"} 40\n"}) {
        EXPECT_NE(text.find(family), std::string::npos) << family;
        EXPECT_EQ(text.find(family), text.rfind(family)) << family;
    }
}

TEST(metrics, a_scrape_is_answered_only_on_get_metrics_with_the_token)
{
    const auto status = [](const char *head) { return scrape_refusal(head, "t0k").status; };
    EXPECT_EQ(status("GET /metrics HTTP/1.1\r\nHost: x\r\nauthorization: Bearer t0k\r\n\r\n"), 0);
    EXPECT_EQ(status("GET /metrics HTTP/1.1\r\nAuthorization:  Bearer t0k\r\n\r\n"), 0);
    EXPECT_EQ(status("GET /metrics HTTP/1.1\r\nAuthorization: Bearer t0k2\r\n\r\n"), 401);
    EXPECT_EQ(status("GET /metrics HTTP/1.1\r\nAuthorization: Bearer t0\r\n\r\n"), 401);
    EXPECT_EQ(status("GET /metrics HTTP/1.1\r\nX-Authorization: Bearer t0k\r\n\r\n"), 401);
    EXPECT_EQ(status("POST /metrics HTTP/1.1\r\nAuthorization: Bearer t0k\r\n\r\n"), 405);
    EXPECT_EQ(status("GET / HTTP/1.1\r\n\r\n"), 404);
    EXPECT_FALSE(shows_bearer_token("Bearer ", ""));
    EXPECT_TRUE(http_answer({401, "no\n"}).find("\r\nWWW-Authenticate: Bearer\r\n") != std::string::npos);

    EXPECT_EQ(parse_listen_address("127.0.0.1:9464")->port, 9464);
    EXPECT_TRUE(is_loopback(*parse_listen_address("127.0.0.2:1")));
    EXPECT_FALSE(is_loopback(*parse_listen_address("0.0.0.0:1")));
    for (const char *bad : {"9464", "localhost:9464", "127.0.0.1:", "127.0.0.1:70000", "::1:9464"})
        EXPECT_FALSE(parse_listen_address(bad)) << bad;
}

int connected_to(std::uint16_t port)
{
    const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(client, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
    return client;
}

// A client that sends its head a byte every 0.3 s, for 6 s.
std::jthread trickling_client(std::uint16_t port)
{
    return std::jthread([port](const std::stop_token &stop) {
        const int client = connected_to(port);
        for (int sent = 0; sent < 20 && !stop.stop_requested() && send(client, "G", 1, MSG_NOSIGNAL) == 1;
             ++sent)
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        close(client);
    });
}

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(metrics, a_client_sending_its_request_slowly_holds_neither_the_scrapes_nor_the_stop)
{
    auto endpoint = std::make_unique<metrics_endpoint>(*parse_listen_address("127.0.0.1:0"), "t0k",
                                                       [] { return std::string("up 1\n"); });
    const std::jthread slow = trickling_client(endpoint->port());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    const int scrape = connected_to(endpoint->port());
    const timeval patience{4, 0};
    setsockopt(scrape, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    const std::string request = "GET /metrics HTTP/1.1\r\nAuthorization: Bearer t0k\r\n\r\n";
    send(scrape, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer(4096, '\0');
    answer.resize(
        static_cast<std::size_t>(std::max<ssize_t>(0, recv(scrape, answer.data(), answer.size(), 0))));
    close(scrape);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
    EXPECT_LT(seconds_since(start), 5.0); // the slow client's two seconds, then this scrape

    const std::jthread another = trickling_client(endpoint->port());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopping = std::chrono::steady_clock::now();
    endpoint.reset();
    EXPECT_LT(seconds_since(stopping), 1.5);
}

} // namespace
