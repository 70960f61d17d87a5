// What the panel's page is sent, as JSON: the board's names, scans, outputs
// and status, and the events of the live stream that carry them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "acquisition.h"
#include "channel_file.h"

namespace vostrelle::panel {

struct panel_facts {
    std::string device;
    bool simulated = false;
};

// Each input's channel for the page, null where the channel file names none:
// [null,{"name":…,"unit":"°C","decimals":1,"gain":100,"offset":0,"table":[[v,x],…],"limits":[lo,hi]}].
std::string channels_json(const input_channels &inputs);

std::string outputs_json(const output_state &outputs);
std::string status_json(const board_status &status, const panel_facts &facts, int pages);
// Column by column: {"t":[...],"v":[[input 0...],...]}.
std::string scans_json(const std::vector<scan> &scans);
// The first event of a stream: names, limits, outputs, status and the history asked for.
std::string hello_json(const board_names &names, const output_state &outputs, const std::string &status,
                       const std::vector<scan> &history, const std::string &channels = {});

// One server-sent event.
std::string event(const char *name, const std::string &json);

} // namespace vostrelle::panel
