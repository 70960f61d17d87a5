// What the panel's page is sent, as JSON: the board's names, scans, outputs
// and status, and the events of the live stream that carry them.
#pragma once

#include <string>
#include <vector>

#include "acquisition.h"

namespace vostrelle::panel {

struct panel_facts {
    std::string device;
    bool simulated = false;
};

std::string outputs_json(const output_state &outputs);
std::string status_json(const board_status &status, const panel_facts &facts, int pages);
// Column by column: {"t":[...],"v":[[input 0...],...]}.
std::string scans_json(const std::vector<scan> &scans);
// The first event of a stream: names, limits, outputs, status and the history asked for.
std::string hello_json(const board_names &names, const output_state &outputs, const std::string &status,
                       const std::vector<scan> &history);

// One server-sent event.
std::string event(const char *name, const std::string &json);

} // namespace vostrelle::panel
