// `list`: every ACM and USB serial port, what it is, who may open it and who
// holds it; with --ask, which of them answer a conversion like the board.
#include <chrono>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <thread>

#include "board.h"
#include "board/commands.h"
#include "link/driver_state.h"
#include "link/serial_line.h"
#include "ports.h"
#include "probe.h"
#include "text.h"

namespace vostrelle::probe {

namespace {

constexpr auto reply_limit = std::chrono::milliseconds(50);
constexpr int reply_bytes = 2;

struct listed_port {
    serial_port port;
    std::optional<int> answer; // the count of PA0, when asked and answered
    bool asked = false;
};

// The count of PA0 when the port answers a conversion like the board.
std::optional<int> ask_conversion(std::int32_t port)
{
    std::uint8_t reply[reply_bytes] = {};
    while (link::serial_available(port) > 0 && link::serial_read(port, reply, 1) > 0) {}
    link::serial_write_text(port, &board::conversion_letters[0], 1);
    const auto deadline = std::chrono::steady_clock::now() + reply_limit;
    while (link::serial_available(port) < reply_bytes && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (link::serial_available(port) < reply_bytes ||
        link::serial_read(port, reply, reply_bytes) != reply_bytes)
        return std::nullopt;
    const int count = reply[0] * 256 + reply[1];
    return count <= tools::board::count_highest ? std::optional<int>(count) : std::nullopt;
}

// Sends one conversion of PA0 on every port this user can open, all at once
// after one start-up wait (the driver's), and keeps the counts that look like
// the board's.
void ask_each(std::vector<listed_port> &ports)
{
    link::create_serial_registry();
    for (std::size_t k = 0; k < ports.size(); ++k)
        if (ports[k].port.access.can_open)
            ports[k].asked =
                link::open_board_line(static_cast<std::int32_t>(k), ports[k].port.path.c_str()) > 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(link::board_start_up_ms));
    for (std::size_t k = 0; k < ports.size(); ++k)
        if (ports[k].asked)
            ports[k].answer = ask_conversion(static_cast<std::int32_t>(k));
    link::close_serial_ports();
}

std::string holders_text(const device_holders &holding)
{
    std::string text;
    for (const auto &p : holding.holders)
        text += (text.empty() ? "" : ", ") + p.name + " (" + std::to_string(p.pid) + ")";
    return text.empty() ? "-" : text;
}

std::string answer_text(const listed_port &p)
{
    if (!p.asked)
        return p.port.access.can_open ? "-" : "not asked (no access)";
    return p.answer ? "like the board (PA0 " + std::to_string(*p.answer) + ")" : "no";
}

void print_table(const std::vector<listed_port> &ports, bool asked)
{
    std::cout << std::left << std::setw(14) << "PORT" << std::setw(10) << "USB ID" << std::setw(32)
              << "MAKER / PRODUCT" << std::setw(14) << "SERIAL" << std::setw(20) << "GROUP MODE"
              << std::setw(8) << "ACCESS" << std::setw(asked ? 26 : 0) << "HELD BY"
              << (asked ? "ANSWERS" : "") << "\n";
    for (const auto &p : ports) {
        const auto &usb = p.port.usb;
        const std::string id = usb ? usb->vendor_id + ":" + usb->product_id : "-";
        const std::string maker = usb ? usb->manufacturer + " / " + usb->product : "(not a USB device)";
        std::ostringstream row;
        row << std::left << std::setw(14) << p.port.path << std::setw(10) << id << std::setw(32)
            << maker.substr(0, 31) << std::setw(14)
            << (usb && !usb->serial.empty() ? usb->serial.substr(0, 13) : "-") << std::setw(20)
            << (p.port.access.group + " " + mode_text(p.port.access.mode)) << std::setw(8)
            << (p.port.access.can_open ? "yes" : "no") << std::setw(asked ? 26 : 0)
            << holders_text(p.port.holding) << (asked ? answer_text(p) : "");
        std::cout << row.str() << "\n";
        if (p.port.stable_name)
            std::cout << "  stable name: " << *p.port.stable_name << "\n";
    }
    if (ports.empty())
        std::cout
            << "(no /dev/ttyACM* or /dev/ttyUSB* port: is the board plugged in? `dmesg | tail` shows what "
               "the kernel saw)\n";
}

void print_json(const std::vector<listed_port> &ports, bool asked)
{
    using tools::json_string;
    std::cout << "[";
    for (std::size_t k = 0; k < ports.size(); ++k) {
        const auto &p = ports[k];
        const auto &usb = p.port.usb;
        std::cout << (k ? ",\n " : "\n ") << "{\"port\": " << json_string(p.port.path)
                  << ", \"stable_name\": "
                  << (p.port.stable_name ? json_string(*p.port.stable_name) : "null");
        if (usb)
            std::cout << ", \"usb\": {\"vendor_id\": " << json_string(usb->vendor_id)
                      << ", \"product_id\": " << json_string(usb->product_id)
                      << ", \"manufacturer\": " << json_string(usb->manufacturer)
                      << ", \"product\": " << json_string(usb->product)
                      << ", \"serial\": " << json_string(usb->serial) << "}";
        else
            std::cout << ", \"usb\": null";
        std::cout << ", \"group\": " << json_string(p.port.access.group)
                  << ", \"mode\": " << json_string(mode_text(p.port.access.mode))
                  << ", \"can_open\": " << (p.port.access.can_open ? "true" : "false") << ", \"held_by\": [";
        for (std::size_t h = 0; h < p.port.holding.holders.size(); ++h)
            std::cout << (h ? ", " : "") << "{\"pid\": " << p.port.holding.holders[h].pid
                      << ", \"program\": " << json_string(p.port.holding.holders[h].name) << "}";
        std::cout << "]";
        if (asked)
            std::cout << ", \"answers_like_the_board\": " << (p.answer ? "true" : "false");
        std::cout << "}";
    }
    std::cout << (ports.empty() ? "]\n" : "\n]\n");
}

} // namespace

int run_list(const list_options &options)
{
    std::vector<listed_port> ports;
    for (const auto &path : serial_port_paths())
        ports.push_back({describe_port(path), std::nullopt, false});
    if (options.ask)
        ask_each(ports);
    if (options.json)
        print_json(ports, options.ask);
    else
        print_table(ports, options.ask);
    return 0;
}

} // namespace vostrelle::probe
