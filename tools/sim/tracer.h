// Prints the board's exchanges for --trace from a thread of its own, so that
// a terminal or pipe that stops reading never holds up the board.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "simulated_board.h"

namespace vostrelle::sim {

class tracer {
public:
    tracer();
    // Queues one line for `e`; past a backlog of lines, counts it as dropped.
    void take(const exchange &e);

private:
    // Shared with the printing thread, which may outlive this object.
    struct queue {
        std::mutex mutex;
        std::condition_variable queued;
        std::deque<std::string> lines;
        std::uint64_t dropped = 0;
    };
    static void print_forever(const std::shared_ptr<queue> &q);

    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::shared_ptr<queue> queue_ = std::make_shared<queue>();
};

} // namespace vostrelle::sim
