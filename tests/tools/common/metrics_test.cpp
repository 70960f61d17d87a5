// The exposition text, the bearer check and what a scrape is answered.
#include <gtest/gtest.h>

#include "metrics.h"
#include "metrics_endpoint.h"

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
    for (const char *bad : {"9464", "localhost:9464", "127.0.0.1:", "127.0.0.1:70000", "::1:9464"})
        EXPECT_FALSE(parse_listen_address(bad)) << bad;
}

} // namespace
