// What a tool shows of an input: in its sensor's unit where the channel file
// names it, in volts otherwise; and where the tools find that file.
#pragma once

#include <optional>
#include <string>

#include "channel_file.h"

namespace vostrelle::channels {

// --channels-file when given, else $VOSTRELLE_CHANNELS when set and not
// empty, else ~/.config/vostrelle/channels.toml when it exists; nothing when
// none applies. A file named by the option or the variable must exist: the
// file_error says so.
std::optional<channel_file> find_channel_file(const std::string &option);

// The file's path as find_channel_file chooses it, existing or not (for
// calibrate, which may create it).
std::string channel_file_path(const std::string &option);

// The value in the channel's unit with its decimals: "31.2".
std::string value_text(const channel &c, double volts);

// "NAME (UNIT)", NAME the driver's when the file gives none.
std::string column_title(const channel &c, const std::string &driver_name);

} // namespace vostrelle::channels
