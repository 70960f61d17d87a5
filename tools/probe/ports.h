// The serial ports a board may appear as, and what sysfs and the file system
// say about each: USB identity, stable name, owner, access, holders.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "holders.h"

namespace vostrelle::probe {

struct usb_identity {
    std::string vendor_id, product_id; // four hex digits each
    std::string manufacturer, product, serial;
};

struct port_access {
    bool exists = false;
    bool character_device = false;
    uid_t owner = 0;
    gid_t gid = 0;
    std::string group;
    mode_t mode = 0;
    bool can_open = false; // read and write, as this user in this session
};

struct serial_port {
    std::string path;                       // as found: /dev/ttyACM0
    std::optional<std::string> stable_name; // /dev/serial/by-id/...
    std::optional<usb_identity> usb;
    port_access access;
    device_holders holding;
};

// Every /dev/ttyACM* and /dev/ttyUSB*, in order.
std::vector<std::string> serial_port_paths();
serial_port describe_port(const std::string &path);

// The USB device behind a tty, read from sysfs (VOSTRELLE_SYSFS_ROOT, used by
// the tests, stands for /sys).
std::optional<usb_identity> usb_identity_of(const std::string &device);
// Its serial number, when it has one: what names a board wherever it is plugged in.
std::optional<std::string> usb_serial_of(const std::string &device);
port_access access_to(const std::string &device);

std::string mode_text(mode_t mode); // crw-rw----

} // namespace vostrelle::probe
