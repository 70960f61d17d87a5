// The rows of a recording of several boards: each board, on its own thread,
// gives its part of each slot, and a slot is written as one row once every
// board is past it. With one board a row is written as soon as it is taken.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vostrelle::probe {

// How each board is named in the header: the device's last path component
// ("ttyACM0"), or the whole path when two boards would share one.
std::vector<std::string> board_labels(const std::vector<std::string> &devices);

class board_rows {
public:
    using clock_type = std::chrono::steady_clock;
    using line_writer = std::function<bool(const std::string &line)>;

    // `columns`: each board's value count; `write` takes each whole line.
    board_rows(std::size_t boards, std::size_t columns, line_writer write);

    // Board `board` read `values` at `began` for `slot`.
    void scanned(std::size_t board, long long slot, clock_type::time_point began,
                 std::vector<std::string> values);
    // Board `board` has given every part it will give for the slots before
    // `slot`; rows every board is past are written.
    void passed(std::size_t board, long long slot);

    // When the first row's scan began; the first column counts from it.
    std::optional<clock_type::time_point> first() const;
    // False once a line could not be written.
    bool written() const;

private:
    struct part {
        clock_type::time_point began;
        std::vector<std::string> values;
    };
    void write_passed();
    std::string line_of(const std::vector<std::optional<part>> &parts);

    mutable std::mutex mutex_;
    std::size_t columns_;
    line_writer write_;
    std::vector<long long> reached_;
    std::map<long long, std::vector<std::optional<part>>> pending_;
    std::optional<clock_type::time_point> first_;
    bool written_ = true;
};

} // namespace vostrelle::probe
