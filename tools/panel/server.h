// The panel's HTTP side: the page and its files, the live stream, and the
// POSTs that drive the outputs and the recording; every request is checked
// by the access guard before anything else.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition.h"
#include "messages.h"

namespace vostrelle::panel {

// One board the panel shows, and what the page says of it.
struct served_board {
    acquisition *board;
    panel_facts facts;
    std::string channels; // channels_json of its inputs; empty: none sent, the page shows volts
};

class server {
public:
    // One board or several on one page, one section each; requests name
    // theirs with ?board=N, N counted from 0 in the order given (0 when they
    // name none).
    explicit server(std::vector<served_board> boards);
    ~server();
    server(const server &) = delete;
    server &operator=(const server &) = delete;

    // Binds to `address` (a numeric address or a name of this machine) and
    // `port` (0: any free one); the reason when it cannot.
    std::optional<std::string> listen(const std::string &address, std::uint16_t port);
    std::string url() const; // to open once: it carries the one-time token
    std::uint16_t port() const;
    bool reachable_from_network() const; // served on an address that is not loopback
    void start();                        // serves on a thread of its own
    void stop();
    void wake_streams(); // from any thread: new scans to send

private:
    struct impl;
    std::unique_ptr<impl> impl_;
};

} // namespace vostrelle::panel
