// The follower's transitions, as a table.
#include "follow_machine.h"

#include <array>

namespace vostrelle::host {

namespace {

using std::chrono::steady_clock;

struct transition {
    board_state from;
    observation seen;
    board_state to;
    action then;
    steady_clock::duration after; // the wait before `then`
};

using enum board_state;
using enum observation;

constexpr steady_clock::duration now{0};

// Pairs not in the table change nothing. An unanswered scan while answering
// moves to silent only as the last of a row of them (see observe).
constexpr std::array<transition, 11> transitions{{
    {answering, answered, answering, action::scan, now},
    {answering, unanswered, silent, action::check, follow_machine::check_every},
    {answering, lost, gone, action::look, now},
    {silent, answered, answering, action::scan, now},
    {silent, unanswered, silent, action::check, follow_machine::check_every},
    {silent, lost, gone, action::look, now},
    {gone, absent, gone, action::look, follow_machine::look_every},
    {gone, lost, gone, action::look, follow_machine::look_every},
    {gone, present, loading, action::reload, now},
    {loading, loaded, answering, action::scan, now},
    {loading, load_failed, gone, action::look, follow_machine::look_after_failed_load},
}};

const transition *find_transition(board_state from, observation seen)
{
    for (const auto &row : transitions)
        if (row.from == from && row.seen == seen)
            return &row;
    return nullptr;
}

} // namespace

moment moment::now()
{
    return {steady_clock::now(), std::chrono::system_clock::now()};
}

follow_machine::follow_machine(board_state first, moment at)
    : state_(first), since_(at), next_{first == gone ? action::look : action::scan, at.steady}
{
    if (first != answering)
        gaps_.push_back({first, at, std::nullopt});
}

std::optional<state_change> follow_machine::observe(observation seen, moment at)
{
    const transition *row = find_transition(state_, seen);
    if (!row)
        return std::nullopt;
    next_ = {row->then, at.steady + row->after};
    if (state_ == answering && seen == unanswered) {
        if (unanswered_in_row_++ == 0)
            first_unanswered_ = at;
        if (unanswered_in_row_ < unanswered_scans_before_silent) {
            next_ = {action::scan, at.steady};
            return std::nullopt;
        }
        at = first_unanswered_; // silent since its first unanswered scan
    }
    if (seen != unanswered)
        unanswered_in_row_ = 0;
    if (seen == loaded)
        ++reloads_;
    if (row->to == state_)
        return std::nullopt;
    const state_change change{state_, row->to, at};
    enter(row->to, at);
    return change;
}

void follow_machine::enter(board_state to, moment at)
{
    if (state_ == answering)
        gaps_.push_back({to, at, std::nullopt});
    if (to == answering)
        gaps_.back().end = at;
    state_ = to;
    since_ = at;
}

} // namespace vostrelle::host
