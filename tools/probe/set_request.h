// `set`: which output to drive and with what, read from the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vostrelle::probe {

// `set pwm V`, `set freq V`, `set led on|off`, `set line K on|off`.
struct set_request {
    bool analog = false; // sa, else sb
    int channel = 0;
    int value = 0;
};

// The request, or what is wrong with it.
struct set_parse {
    std::optional<set_request> request;
    std::string problem;
};

set_parse parse_set_request(const std::string &what, const std::vector<std::string> &values);

// "vostrelle-probe set: PROBLEM" and the usage line, each ending in a newline.
std::string set_refusal(const std::string &problem);

} // namespace vostrelle::probe
