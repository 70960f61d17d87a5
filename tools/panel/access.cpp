#include "access.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <sys/random.h>

#include "text.h"

namespace vostrelle::panel {

namespace {

// 32 bytes from the kernel's random source, as 64 hex digits.
std::string random_secret()
{
    std::array<unsigned char, 32> bytes{};
    if (getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("the kernel gave no random bytes for the access token");
    std::string hex;
    for (const unsigned char byte : bytes) {
        char digits[3];
        (void)std::snprintf(digits, sizeof digits, "%02x", byte); // two digits and the NUL fit
        hex += digits;
    }
    return hex;
}

// A browser leaves out port 80, the one HTTP assumes: "127.0.0.1:80" is named
// "127.0.0.1" too.
std::string_view without_default_port(std::string_view authority)
{
    constexpr std::string_view default_port = ":80";
    return authority.ends_with(default_port) ? authority.substr(0, authority.size() - default_port.size())
                                             : authority;
}

} // namespace

access_guard::access_guard(std::vector<std::string> authorities)
    : authorities_(std::move(authorities)), token_(random_secret()), cookie_(random_secret())
{
    // Browsers keep cookies by host, not port: each panel's name carries its port.
    const std::string &first = authorities_.front();
    cookie_name_ = "vostrelle-panel-" + first.substr(first.rfind(':') + 1);
}

std::string access_guard::url() const
{
    return "http://" + authorities_.front() + "/?token=" + token_;
}

bool access_guard::names_this_panel(std::string_view host) const
{
    for (const auto &authority : authorities_)
        if (host == authority || host == without_default_port(authority))
            return true;
    return false;
}

bool access_guard::same_origin(std::string_view origin, std::string_view host)
{
    constexpr std::string_view scheme = "http://";
    if (!origin.starts_with(scheme))
        return false;
    origin.remove_prefix(scheme.size());
    return origin == host || origin == without_default_port(host);
}

bool access_guard::holds_cookie(std::string_view value) const
{
    return tools::same_secret(value, cookie_);
}

bool access_guard::exchange(std::string_view token)
{
    if (token_spent_ || !tools::same_secret(token, token_))
        return false;
    token_spent_ = true;
    return true;
}

std::string access_guard::cookie_header() const
{
    return cookie_name_ + "=" + cookie_ + "; Path=/; HttpOnly; SameSite=Strict";
}

} // namespace vostrelle::panel
