// Home Assistant's discovery configs for one board: a sensor per input, a
// switch per line and for the LED, numbers for the PWM and the frequency,
// all under one device whose availability is the board's status topic.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "board.h"
#include "topics.h"

namespace vostrelle::mqtt {

struct input_facts {
    std::string name; // the channel file's, else the driver's
    std::string unit = "V";
    int decimals = 3;
};

struct board_facts {
    std::string id; // BOARD, as in the topics
    std::string title, detail, serial, version;
    std::array<input_facts, tools::board::input_count> inputs;
};

struct message {
    std::string topic, payload;
};

// Retained config messages under `discovery_prefix` ("homeassistant").
std::vector<message> discovery_messages(const std::string &discovery_prefix, const board_topics &topics,
                                        const board_facts &board);

} // namespace vostrelle::mqtt
