// The udev rule for a board: its USB IDs (and serial) matched, access for the
// logged-in user, modem managers kept away, the stable name /dev/vostrelle.
#pragma once

#include <string>

#include "ports.h"

namespace vostrelle::probe {

std::string udev_rule_for(const usb_identity &usb);

// Whether `value` may go inside the rule's double quotes: no quote,
// backslash or line break that could end or change the quoting.
bool plain_udev_value(const std::string &value);

} // namespace vostrelle::probe
