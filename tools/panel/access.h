// Who may use the panel: whoever opens the printed link, whose one-time token
// becomes a cookie; only requests that name the panel's own address (a page
// elsewhere that points a name of its own at this machine gets nothing); and
// changes only from the panel's own page.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrelle::panel {

class access_guard {
public:
    // `authorities`: the host:port forms a request may name, the first the
    // one to print.
    explicit access_guard(std::vector<std::string> authorities);

    std::string url() const; // with the token, to open once
    const std::string &cookie_name() const { return cookie_name_; }

    bool names_this_panel(std::string_view host) const;
    // A page's own origin, for the Host a request named.
    static bool same_origin(std::string_view origin, std::string_view host);
    bool holds_cookie(std::string_view value) const;
    // Spends the token: true once, for the right one.
    bool exchange(std::string_view token);
    // The Set-Cookie value that the exchange gives.
    std::string cookie_header() const;

private:
    std::vector<std::string> authorities_;
    std::string token_;
    std::string cookie_;
    std::string cookie_name_;
    bool token_spent_ = false;
};

} // namespace vostrelle::panel
