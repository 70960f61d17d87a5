// Follows the board's device for a long-running host loop: notices when it
// goes (path gone, another device at the path, port hung up) or falls silent,
// then stops converting and waits cheaply, and loads the driver again when it
// is back. Outputs are never set again by it: take_reload() tells the host,
// which restores them only when the user asked.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device_watch.h"
#include "follow_machine.h"
#include "session.h"

namespace vostrelle::host {

// The conversions a scan made, which set how long it lasts when none is
// answered: each waits out its settle time and both reply deadlines.
struct scan_size {
    int counts = 0; // ea
    int volts = 0;  // ead
};

// Not thread-safe: one thread (the one that calls the driver) uses it.
class board_follower {
public:
    using clock = std::chrono::steady_clock;
    using change_handler = std::function<void(const state_change &)>;

    // Starts following the device `s` was loaded for; `on_change` hears of
    // every change of state (see change_text).
    board_follower(session &s, change_handler on_change);

    // When the host should next call ready(): now while the board answers,
    // later while it is gone (the next look at the path) or silent (the next
    // single check). A host sleeps until the later of this and its slot.
    clock::time_point next_call() const { return machine_.next().not_before; }

    // At a slot: looks at the device and, as the state asks, checks a silent
    // board with one conversion or loads the driver again (not when that
    // would end after `deadline`). True when the host may scan now.
    bool ready(std::optional<clock::time_point> deadline = std::nullopt);

    // After a scan read with answered_count or answered_volts: true when
    // each of its `conversions` got a reply (`replied`), so that its values
    // may be kept. Otherwise they must not be: a reply missed now and then is
    // a lost row, none at all is one check conversion more, and a few such
    // scans in a row are a silent board.
    bool answered(int replied, int conversions);

    // The same for a host that reads without the sentinel: a scan that took
    // at least as long as its conversions with no reply at all had none when
    // one check conversion gets none either.
    bool answered(clock::duration took, scan_size size);

    // True once after each reload of the driver: the board has reset its
    // outputs, and the host sets them again if the user asked for that.
    bool take_reload() { return std::exchange(reloaded_, false); }

    // Whether the driver is loaded, so that its entry points may be called
    // (setting an output while the board is gone, for instance).
    bool driver_loaded() const { return session_.handle != nullptr; }

    const follow_machine &machine() const { return machine_; }
    const std::string &device() const { return session_.device; }

private:
    void see(observation seen);
    void find_port();
    bool device_lost() const;
    void look(std::optional<clock::time_point> deadline);
    void reload();
    bool check();

    session &session_;
    change_handler on_change_;
    std::optional<device_identity> identity_; // what the path led to at load
    std::vector<int> port_;                   // the descriptors on it
    follow_machine machine_;
    bool reloaded_ = false;
};

// One conversion that shows whether the board replied: the reply bytes are
// set to a sentinel first, out of range unless a reply replaces it. Nothing
// when none came (a reply that lost one byte cannot be told).
std::optional<int> answered_count(session &s, int channel);
std::optional<double> answered_volts(session &s, int channel);

// One line for a change of state, without the program's name: "board gone at
// 14:03:12 (/dev/ttyACM0): no conversions until it is back".
std::string change_text(const state_change &change, const std::string &device);

// A wall-clock time as the messages write it: "14:03:12" (local time).
std::string clock_text(std::chrono::system_clock::time_point at);

} // namespace vostrelle::host
