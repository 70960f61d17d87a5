// Small text helpers shared by the tools.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vostrelle::tools {

// A whole decimal (or 0x hexadecimal) integer within [low, high], else nothing.
std::optional<int> parse_int(std::string_view text, int low, int high);

// "0..HIGHEST", a range of whole numbers as the tools write it.
std::string zero_to(int highest);

// One number written by snprintf with `pattern` ("%.3f", "%.6f", …).
std::string formatted(const char *pattern, double value);

// The driver's ISO-8859-1 texts, for a UTF-8 terminal.
std::string latin1_to_utf8(std::string_view text);

// The text quoted for a JSON document.
std::string json_string(std::string_view text);

// Whether `given` is `secret`, compared in a time that does not depend on
// where the two differ.
bool same_secret(std::string_view given, std::string_view secret);

} // namespace vostrelle::tools
