// The follower: the device looked at before each scan, a single check
// conversion for a board that may be silent, the driver loaded again.
#include "board_follower.h"

#include <array>
#include <ctime>

#include "board.h"

namespace vostrelle::host {

namespace {

using namespace std::chrono_literals;
namespace board = tools::board;

// Loading takes the driver's two seconds and a little more.
constexpr auto load_time = 2500ms;

// A reply byte that does not come leaves what `sa` on a channel without an
// output put there: a count out of range.
constexpr int no_reply_sentinel = 0xFFFF;

} // namespace

board_follower::board_follower(session &s, change_handler on_change)
    : session_(s), on_change_(std::move(on_change)), machine_(board_state::answering, moment::now())
{
    find_port();
    if (identity_ && !port_.empty())
        return;
    // Not there, or the driver could not open it: wait for it as for a board gone.
    machine_ = follow_machine(board_state::gone, moment::now());
    on_change_({board_state::answering, board_state::gone, machine_.since()});
}

void board_follower::see(observation seen)
{
    if (const auto change = machine_.observe(seen, moment::now()))
        on_change_(*change);
}

void board_follower::find_port()
{
    identity_ = identity_of(session_.device);
    port_ = identity_ ? descriptors_on(*identity_) : std::vector<int>{};
}

bool board_follower::device_lost() const
{
    const auto now = identity_of(session_.device);
    return !now || now != identity_ || hung_up(port_);
}

bool board_follower::ready(std::optional<clock::time_point> deadline)
{
    if (clock::now() < machine_.next().not_before)
        return false;
    if (machine_.next().what == action::look)
        look(deadline);
    if (machine_.next().what == action::reload)
        reload();
    const auto state = machine_.state();
    if ((state == board_state::answering || state == board_state::silent) && device_lost())
        see(observation::lost);
    if (machine_.next().what == action::check)
        check();
    return machine_.state() == board_state::answering;
}

void board_follower::look(std::optional<clock::time_point> deadline)
{
    // A reload that would outlast the host's end is not begun.
    const bool too_late = deadline && clock::now() + load_time > *deadline;
    see(identity_of(session_.device) && !too_late ? observation::present : observation::absent);
}

void board_follower::reload()
{
    const bool loaded = reload_driver(session_);
    if (loaded)
        find_port();
    reloaded_ = reloaded_ || loaded;
    see(loaded && !port_.empty() ? observation::loaded : observation::load_failed);
}

bool board_follower::check()
{
    const bool replied = answered_count(session_, 0).has_value();
    see(replied ? observation::answered : observation::unanswered);
    return replied;
}

std::optional<int> answered_count(session &s, int channel)
{
    s.api.sa(-1, no_reply_sentinel); // sets the reply bytes, writes nothing
    const int count = s.api.ea(channel);
    return count <= board::count_highest ? std::optional(count) : std::nullopt;
}

std::optional<double> answered_volts(session &s, int channel)
{
    s.api.sa(-1, no_reply_sentinel);
    const double volts = s.api.ead(channel);
    return volts <= board::full_scale_volts * (1 + 1e-9) ? std::optional(volts) : std::nullopt;
}

bool board_follower::answered(int replied, int conversions)
{
    if (replied == conversions) {
        see(observation::answered);
        return true;
    }
    if (replied > 0)
        see(observation::answered); // it answers, but this scan lost a reply
    else
        check();
    return false;
}

bool board_follower::answered(clock::duration took, scan_size size)
{
    // A scan shorter than its conversions' waits with no reply at all had
    // replies; a longer one may have had none, and one check decides.
    const std::chrono::duration<double, std::milli> unanswered{size.counts * board::count_unanswered_ms +
                                                               size.volts * board::volts_unanswered_ms};
    if (took < unanswered) {
        see(observation::answered);
        return true;
    }
    return check();
}

std::string clock_text(std::chrono::system_clock::time_point at)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::array<char, 16> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%H:%M:%S", &local);
    return {text.data(), length};
}

namespace {

struct change_wording {
    std::optional<board_state> from; // none: from any
    board_state to;
    const char *before_time, *after_device;
};

constexpr std::array<change_wording, 6> wordings{{
    {board_state::loading, board_state::gone, "the driver did not open the device at ",
     ": trying again in 5 s"},
    {std::nullopt, board_state::gone, "board gone at ", ": no conversions until it is back"},
    {std::nullopt, board_state::silent, "board silent since ",
     ": it does not answer; one check a second until it does"},
    {std::nullopt, board_state::loading, "board back at ", ": loading the driver again (about two seconds)"},
    {board_state::loading, board_state::answering, "board answers at ", ": the driver is loaded again"},
    {std::nullopt, board_state::answering, "board answers again at ", ""},
}};

} // namespace

std::string change_text(const state_change &change, const std::string &device)
{
    for (const auto &wording : wordings)
        if (wording.to == change.to && (!wording.from || wording.from == change.from))
            return wording.before_time + clock_text(change.at.wall) + " (" + device + ")" +
                   wording.after_device;
    return {};
}

} // namespace vostrelle::host
