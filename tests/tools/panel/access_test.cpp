// The panel's access rules: the one-time token, the cookie it becomes, and
// the Host and Origin a request must name.
#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>

#include "request_rules.h"

namespace {

using namespace vostrelle::panel;

const std::vector<std::string> authorities{"127.0.0.1:8765", "localhost:8765"};

// TEXT is PREFIX, a secret of 64 lower-case hex digits, then SUFFIX.
bool holds_secret(const std::string &text, const std::string &prefix, const std::string &suffix)
{
    if (text.size() != prefix.size() + 64 + suffix.size() || !text.starts_with(prefix) ||
        !text.ends_with(suffix))
        return false;
    const auto secret = text.substr(prefix.size(), 64);
    return std::all_of(secret.begin(), secret.end(),
                       [](char c) { return std::isdigit(c) || (c >= 'a' && c <= 'f'); });
}

std::string token_of(const access_guard &guard)
{
    return guard.url().substr(guard.url().find("token=") + 6);
}

std::string cookie_of(const access_guard &guard)
{
    const std::string header = guard.cookie_header();
    const auto start = header.find('=') + 1;
    return header.substr(start, header.find(';') - start);
}

TEST(access, the_printed_link_opens_once_and_gives_an_http_only_strict_cookie)
{
    access_guard guard(authorities);
    EXPECT_TRUE(holds_secret(guard.url(), "http://127.0.0.1:8765/?token=", ""));
    EXPECT_TRUE(
        holds_secret(guard.cookie_header(), "vostrelle-panel-8765=", "; Path=/; HttpOnly; SameSite=Strict"));
    const std::string token = token_of(guard);
    EXPECT_FALSE(guard.exchange(std::string(64, '0')));
    EXPECT_FALSE(guard.exchange(token.substr(1)));
    EXPECT_TRUE(guard.exchange(token));
    EXPECT_FALSE(guard.exchange(token)) << "a second opening of the link";
    EXPECT_NE(access_guard(authorities).url(), guard.url()) << "each panel draws its own token";
}

TEST(access, only_the_whole_cookie_lets_a_request_in)
{
    const access_guard guard(authorities);
    const std::string cookie = cookie_of(guard);
    std::string one_off = cookie;
    one_off.back() = one_off.back() == '0' ? '1' : '0';
    EXPECT_TRUE(guard.holds_cookie(cookie));
    const std::string wrongs[] = {one_off, cookie.substr(0, 63), cookie + "0", "", token_of(guard)};
    for (const std::string &wrong : wrongs)
        EXPECT_FALSE(guard.holds_cookie(wrong)) << wrong;
}

TEST(access, the_exchange_lets_in_a_browser_that_holds_the_cookie_already)
{
    access_guard guard(authorities);
    const std::string link = "/?token=" + token_of(guard);
    const std::string cookies = "vostrelle-panel-8765=" + cookie_of(guard);
    const request_facts first{"GET", link, "127.0.0.1:8765", "", ""};
    ASSERT_TRUE(is_exchange(first));
    EXPECT_EQ(access_refusal(guard, first), std::nullopt);
    EXPECT_EQ(exchange_refusal(guard, first), std::nullopt);
    const auto again = exchange_refusal(guard, first);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 403);
    EXPECT_EQ(again->reason,
              "this link has been used already or is not this panel's: each link that vostrelle-panel prints "
              "opens the panel once; start vostrelle-panel again for a new one");
    EXPECT_EQ(exchange_refusal(guard, {"GET", link, "127.0.0.1:8765", "", cookies}), std::nullopt);
}

TEST(access, cookies_are_semicolon_separated_pairs_whatever_the_others_hold)
{
    struct cookie_case {
        std::string header;
        std::vector<std::string_view> values;
    };
    const cookie_case cases[] = {
        {"k=v", {"v"}},
        {"a=b ;\tk = v ", {"v"}},
        {"k=\"v\"", {"v"}},
        {"k=one; k=two", {"one", "two"}},
        {"prefs=a/b; k=v", {"v"}},
        {"a=\"open; k=v", {"v"}},
        {"a=b, c; k=v;", {"v"}},
        {"k; kk=v; =v; k=", {""}},
        {"", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cookie_values(c.header, "k"), c.values) << c.header;

    const access_guard guard(authorities);
    const std::string ours = "vostrelle-panel-8765=" + cookie_of(guard);
    for (const std::string &cookies : {"prefs=a/b; " + ours, "vostrelle-panel-8765=junk; " + ours})
        EXPECT_TRUE(shows_cookie(guard, {"GET", "/", "127.0.0.1:8765", "", cookies})) << cookies;
    EXPECT_FALSE(shows_cookie(guard, {"GET", "/", "127.0.0.1:8765", "", "vostrelle-panel-8765=junk"}));
}

TEST(access, on_port_80_the_host_and_origin_may_leave_the_port_out)
{
    const access_guard guard({"127.0.0.1:80", "localhost:80"});
    for (const char *host : {"127.0.0.1", "127.0.0.1:80", "localhost"})
        EXPECT_TRUE(guard.names_this_panel(host)) << host;
    EXPECT_FALSE(access_guard(authorities).names_this_panel("127.0.0.1"));
    EXPECT_TRUE(access_guard::same_origin("http://127.0.0.1", "127.0.0.1:80"));
    EXPECT_TRUE(access_guard::same_origin("http://127.0.0.1", "127.0.0.1"));
    EXPECT_FALSE(access_guard::same_origin("http://127.0.0.1", "127.0.0.1:8765"));
}

TEST(access, requests_must_name_the_panel_and_changes_come_from_its_page)
{
    const access_guard guard(authorities);
    const std::string cookies = "a=b; vostrelle-panel-8765=" + cookie_of(guard);
    EXPECT_TRUE(guard.names_this_panel("localhost:8765"));
    for (const char *host : {"attacker.example:8765", "127.0.0.1", "127.0.0.1:8766", ""})
        EXPECT_FALSE(guard.names_this_panel(host)) << host;
    EXPECT_TRUE(access_guard::same_origin("http://127.0.0.1:8765", "127.0.0.1:8765"));
    for (const char *origin :
         {"https://127.0.0.1:8765", "http://127.0.0.1:8765/", "http://localhost:8765", "null", ""})
        EXPECT_FALSE(access_guard::same_origin(origin, "127.0.0.1:8765")) << origin;

    struct rule_case {
        request_facts request;
        std::optional<refusal> refused;
    };
    const rule_case cases[] = {
        {{"GET", "/", "127.0.0.1:8765", "", cookies}, std::nullopt},
        {{"GET", "/", "attacker.example:8765", "", cookies},
         refusal{403, "this panel answers only requests for its own address, not for Host "
                      "'attacker.example:8765'"}},
        {{"GET", "/events/0", "localhost:8765", "", "vostrelle-panel-8765=00"},
         refusal{403, "no access: open the panel with the link that vostrelle-panel printed (it carries a "
                      "token)"}},
        {{"POST", "/pwm", "127.0.0.1:8765", "", cookies},
         refusal{403, "changes are taken only from the panel's own page, not from Origin ''"}},
        {{"POST", "/pwm", "localhost:8765", "http://localhost:8765", cookies}, std::nullopt},
        {{"GET", "/?token=0", "127.0.0.1:8765", "", ""}, std::nullopt}, // the exchange has its own rules
        {{"GET", "/", "127.0.0.1:8765", "", cookies, "Host"}, refusal{400, "a request names its Host once"}},
        {{"POST", "/pwm", "127.0.0.1:8765", "http://127.0.0.1:8765", cookies, "Origin"},
         refusal{400, "a request names its Origin once"}},
        {{"POST", "/pwm", "127.0.0.1:8765", "http://127.0.0.1:8765", cookies, "", true},
         refusal{501, "the panel takes no Transfer-Encoding: a change carries one number, sent as it is"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(access_refusal(guard, c.request), c.refused) << c.request.method << " " << c.request.target;
}

} // namespace
