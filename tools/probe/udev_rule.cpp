// `udev-rule`: a udev rule made from the plugged-in board's own USB IDs, that
// gives the logged-in user access, keeps modem managers away and adds the
// stable name /dev/vostrelle.
#include <iostream>

#include "ports.h"
#include "probe.h"
#include "udev_rule.h"

namespace vostrelle::probe {

namespace {

constexpr const char *rule_file = "/etc/udev/rules.d/70-vostrelle.rules";

} // namespace

std::string udev_rule_for(const usb_identity &usb)
{
    std::string rule = "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"" + usb.vendor_id +
                       "\", ATTRS{idProduct}==\"" + usb.product_id + "\"";
    if (!usb.serial.empty())
        rule += ", ATTRS{serial}==\"" + usb.serial + "\"";
    return rule + ", TAG+=\"uaccess\", ENV{ID_MM_DEVICE_IGNORE}=\"1\", SYMLINK+=\"vostrelle\"";
}

bool plain_udev_value(const std::string &value)
{
    return value.find_first_of("\"\\\n\r") == std::string::npos;
}

int run_udev_rule(const std::string &requested)
{
    const std::string device = requested.empty() ? host::chosen_device(nullptr) : requested;
    const auto usb = usb_identity_of(device);
    if (!usb) {
        std::cerr << "vostrelle-probe udev-rule: no USB device behind " << device
                  << " in sysfs: plug the board in and name its port (`vostrelle-probe list` shows them)\n";
        return 1;
    }
    if (!plain_udev_value(usb->vendor_id) || !plain_udev_value(usb->product_id) ||
        !plain_udev_value(usb->serial)) {
        std::cerr << "vostrelle-probe udev-rule: the USB attributes of " << device
                  << " hold quotes or line breaks\n";
        return 1;
    }
    std::cout << "# " << rule_file << ": the Vostrelle board " << usb->manufacturer << " " << usb->product
              << " (USB " << usb->vendor_id << ":" << usb->product_id
              << (usb->serial.empty() ? "" : ", serial " + usb->serial) << ")\n"
              << udev_rule_for(*usb) << "\n";
    std::cerr << "To install it and apply it to the board now:\n"
              << "  vostrelle-probe udev-rule " << device << " | sudo tee " << rule_file << "\n"
              << "  sudo udevadm control --reload-rules && sudo udevadm trigger --subsystem-match=tty\n";
    return 0;
}

} // namespace vostrelle::probe
