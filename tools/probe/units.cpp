// The channel file's entry for the board the probe drives.
#include "ports.h"
#include "probe.h"

namespace vostrelle::probe {

input_channels channels_of(const std::optional<channels::channel_file> &file, const std::string &device)
{
    if (!file)
        return {};
    const auto usb = usb_identity_of(device);
    const auto serial = usb && !usb->serial.empty() ? std::optional(usb->serial) : std::nullopt;
    const channels::board_entry *entry = channels::board_for(*file, device, serial);
    return entry ? entry->inputs : input_channels{};
}

} // namespace vostrelle::probe
