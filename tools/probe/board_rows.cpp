// Rows made of each board's part of a slot, written in slot order.
#include "board_rows.h"

#include <algorithm>
#include <set>

#include "csv.h"

namespace vostrelle::probe {

std::vector<std::string> board_labels(const std::vector<std::string> &devices)
{
    std::vector<std::string> labels(devices.size());
    std::transform(devices.begin(), devices.end(), labels.begin(),
                   [](const std::string &device) { return device.substr(device.rfind('/') + 1); });
    const std::set<std::string> distinct(labels.begin(), labels.end());
    return distinct.size() == labels.size() ? labels : devices;
}

board_rows::board_rows(std::size_t boards, std::size_t columns, line_writer write)
    : columns_(columns), write_(std::move(write)), reached_(boards, 0)
{
}

void board_rows::scanned(std::size_t board, long long slot, clock_type::time_point began,
                         std::vector<std::string> values)
{
    const std::scoped_lock lock(mutex_);
    auto &parts = pending_[slot];
    parts.resize(reached_.size());
    parts[board] = part{began, std::move(values)};
}

void board_rows::passed(std::size_t board, long long slot)
{
    const std::scoped_lock lock(mutex_);
    reached_[board] = std::max(reached_[board], slot);
    write_passed();
}

std::optional<board_rows::clock_type::time_point> board_rows::first() const
{
    const std::scoped_lock lock(mutex_);
    return first_;
}

bool board_rows::written() const
{
    const std::scoped_lock lock(mutex_);
    return written_;
}

// Slots with no part from any board have no row.
void board_rows::write_passed()
{
    const long long passed_by_all = *std::min_element(reached_.begin(), reached_.end());
    while (!pending_.empty() && pending_.begin()->first < passed_by_all) {
        if (written_)
            written_ = write_(line_of(pending_.begin()->second));
        pending_.erase(pending_.begin());
    }
}

// The row starts when its earliest part began; a board without a part has
// empty cells.
std::string board_rows::line_of(const std::vector<std::optional<part>> &parts)
{
    auto began = clock_type::time_point::max();
    std::vector<std::string> fields;
    for (const auto &board_part : parts) {
        if (board_part)
            began = std::min(began, board_part->began);
        for (std::size_t column = 0; column < columns_; ++column)
            fields.push_back(board_part ? board_part->values[column] : "");
    }
    if (!first_)
        first_ = began;
    return tools::csv_line(std::chrono::duration<double>(began - *first_).count(), fields);
}

} // namespace vostrelle::probe
