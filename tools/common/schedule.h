// An absolute schedule: slot k is due at start + k × interval on the monotonic
// clock. A slot found already over is skipped and counted, never shifted, so
// time spent waking up or converting never accumulates into drift.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

namespace vostrelle::tools {

struct schedule {
    using clock = std::chrono::steady_clock;

    clock::time_point start;
    clock::duration interval;
    long long slot = 0;

    clock::time_point due() const { return start + slot * interval; }

    // The slots already over at `now`: a scan starting now would belong to a
    // later slot than the one due.
    long long over_at(clock::time_point now) const
    {
        return now >= due() + interval ? (now - due()) / interval : 0;
    }

    // Moves on past the slots already over at `now`, never beyond the last
    // of `slots` when there is an end; how many it skipped.
    long long skip_over(clock::time_point now, std::optional<long long> slots)
    {
        const long long behind = over_at(now);
        const long long skipped = slots ? std::min(behind, *slots - slot) : behind;
        slot += skipped;
        return skipped;
    }
};

} // namespace vostrelle::tools
