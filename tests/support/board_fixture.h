// A loaded driver whose "/dev/ttyACM0" leads to a simulated board, or to
// nothing at all.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "device_redirect.h"
#include "driver.h"
#include "simulated_board.h"

namespace vostrelle::test {

using bytes = std::vector<std::uint8_t>;

// Milliseconds that `action` took, on a clock that never steps.
template <typename Action> double milliseconds_taken(Action action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

class driver_on_board : public ::testing::Test {
protected:
    void SetUp() override
    {
        redirect::lead_board_to(board.device_path());
        skip_start_up_delay(true);
        driver.load();
        // Under an emulator the first exchange also translates the code of
        // both sides and can miss its deadline; the tests start after it.
        api().ea(0);
        written();
    }
    void TearDown() override
    {
        if (driver.loaded())
            driver.unload();
        redirect::lead_board_to("");
    }

    const entry_points &api() const { return driver.api(); }

    // A healthy board's answer to `read`. A busy machine can hold the
    // simulator past a deadline, which reads as another value once; a wrong
    // driver reads it wrong every time.
    template <typename Read, typename Value> Value answer(Read read, Value expected)
    {
        Value got = read();
        for (int attempt = 1; attempt < 3 && got != expected; ++attempt)
            got = read();
        return got;
    }

    // What the driver wrote since the last call, once the line has been
    // quiet for a moment.
    bytes written()
    {
        bytes all;
        for (int quiet = 0, round = 0; quiet < 3 && round < 100; ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const bytes more = board.take_received();
            quiet = more.empty() ? quiet + 1 : 0;
            all.insert(all.end(), more.begin(), more.end());
        }
        return all;
    }

    sim::simulated_board board;
    loaded_driver driver;
};

class driver_without_board : public ::testing::Test {
protected:
    void SetUp() override
    {
        redirect::lead_board_to("/nonexistent/vostrelle-board");
        skip_start_up_delay(true);
        driver.load();
    }
    void TearDown() override
    {
        if (driver.loaded())
            driver.unload();
        redirect::lead_board_to("");
    }
    const entry_points &api() const { return driver.api(); }

    loaded_driver driver;
};

} // namespace vostrelle::test
