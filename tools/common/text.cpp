#include "text.h"

#include <charconv>
#include <cstdio>

namespace vostrelle::tools {

std::string formatted(const char *pattern, double value)
{
    char text[64];
    (void)std::snprintf(text, sizeof text, pattern, value); // 64 bytes hold any number these tools write
    return text;
}

std::string zero_to(int highest)
{
    return "0.." + std::to_string(highest);
}

std::optional<int> parse_int(std::string_view text, int low, int high)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

std::string latin1_to_utf8(std::string_view text)
{
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.push_back(c);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

std::string json_string(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            (void)std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

bool same_secret(std::string_view given, std::string_view secret)
{
    if (given.size() != secret.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t k = 0; k < secret.size(); ++k)
        difference |= static_cast<unsigned char>(given[k] ^ secret[k]);
    return difference == 0;
}

} // namespace vostrelle::tools
