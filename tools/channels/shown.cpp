// Finding the channel file, and an input's value and title as the tools show them.
#include "shown.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace vostrelle::channels {

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool exists(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string default_path()
{
    const std::string home = environment("HOME");
    return home.empty() ? "" : home + "/.config/vostrelle/channels.toml";
}

} // namespace

std::string channel_file_path(const std::string &option)
{
    if (!option.empty())
        return option;
    const std::string chosen = environment("VOSTRELLE_CHANNELS");
    return chosen.empty() ? default_path() : chosen;
}

std::optional<channel_file> find_channel_file(const std::string &option)
{
    const std::string path = channel_file_path(option);
    const bool named = !option.empty() || !environment("VOSTRELLE_CHANNELS").empty();
    if (path.empty() || (!named && !exists(path)))
        return std::nullopt;
    std::ifstream in(path);
    if (!in)
        throw file_error(path + ": cannot read the channel file: " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return parse_channel_file(text.str(), path);
}

std::string value_text(const channel &c, double volts)
{
    char buffer[64];
    (void)std::snprintf(buffer, sizeof buffer, "%.*f", c.decimals, value_of(c.scaling, volts));
    return buffer;
}

std::string column_title(const channel &c, const std::string &driver_name)
{
    return (c.name.empty() ? driver_name : c.name) + " (" + c.unit + ")";
}

} // namespace vostrelle::channels
