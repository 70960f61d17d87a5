// The channel file's entry for the board the probe drives.
#include "units.h"

#include "ports.h"

namespace vostrelle::probe {

input_channels channels_of(const std::optional<channels::channel_file> &file, const std::string &device)
{
    if (!file)
        return {};
    const channels::board_entry *entry = channels::board_for(*file, device, usb_serial_of(device));
    return entry ? entry->inputs : input_channels{};
}

} // namespace vostrelle::probe
