// Loading the driver library as a host does, the device it is sent to, and
// the check that the board answers.
#include "session.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <iostream>
#include <string_view>

#include "board.h"
#include "processes.h"

namespace vostrelle::host {

namespace {

std::string executable_directory()
{
    const std::string whole = tools::read_link("/proc/self/exe").value_or("./vostrelle-probe");
    return whole.substr(0, whole.rfind('/'));
}

// The build's tool folders, separated by ':' (VOSTRELLE_BUILD_TOOL_DIRECTORIES).
bool in_build_tree(const std::string &directory)
{
    std::string_view folders = VOSTRELLE_BUILD_TOOL_DIRECTORIES;
    while (!folders.empty()) {
        const auto end = folders.find(':');
        if (folders.substr(0, end) == directory)
            return true;
        folders.remove_prefix(end == std::string_view::npos ? folders.size() : end + 1);
    }
    return false;
}

} // namespace

std::vector<std::string> default_library_paths()
{
    if (in_build_tree(executable_directory()))
        return {VOSTRELLE_BUILD_LIBRARY};
    // Installed beside the probe (any prefix), then where the system looks.
    return {executable_directory() + "/../" VOSTRELLE_RELATIVE_LIBRARY, VOSTRELLE_INSTALLED_LIBRARY,
            VOSTRELLE_LIBRARY_SONAME};
}

std::string unknown_mode_text(const std::string &written)
{
    return std::string(program_invocation_short_name) + ": unknown simulation mode '" + written + "' (use " +
           sim::fault_mode_list() + ")\n";
}

std::optional<sim::fault_mode> simulation_mode(const std::string &written)
{
    const auto mode = sim::parse_fault_mode(written.empty() ? "healthy" : written);
    if (!mode)
        std::cerr << unknown_mode_text(written);
    return mode;
}

std::unique_ptr<sim::simulated_board> start_simulated_board(sim::fault_mode mode)
{
    auto board = std::make_unique<sim::simulated_board>(mode);
    board->set_waveform(true);
    return board;
}

std::string chosen_device(const sim::simulated_board *board)
{
    if (board)
        return board->device_path();
    const char *chosen = std::getenv("VOSTRELLE_DEVICE");
    return chosen && chosen[0] ? chosen : "/dev/ttyACM0";
}

namespace {

// Loads the first library of `libraries` that loads; false, with every path
// tried and why, when none does.
bool load_library(session &s, const std::vector<std::string> &libraries)
{
    std::string reasons;
    for (const auto &path : libraries) {
        s.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (s.handle) {
            s.library = path;
            return true;
        }
        reasons += "  " + path + ": " + dlerror() + "\n";
    }
    std::cerr << program_invocation_short_name << ": cannot load the driver library; tried:\n"
              << reasons << "Give its path with --library PATH.\n";
    return false;
}

} // namespace

std::optional<session> open_session(const std::vector<std::string> &libraries,
                                    std::unique_ptr<sim::simulated_board> board)
{
    session s;
    s.board = std::move(board);
    s.device = chosen_device(s.board.get());
    if (s.board)
        setenv("VOSTRELLE_DEVICE", s.device.c_str(), 1); // how the driver is told its device
    if (!load_library(s, libraries))
        return std::nullopt;
    if (const auto missing = resolve(s.handle, s.api); !missing.empty()) {
        std::cerr << program_invocation_short_name << ": " << s.library << " lacks " << missing.size()
                  << " entry points (first: " << missing.front() << "): not a Vostrelle driver?\n";
        return std::nullopt;
    }
    if (s.board)
        s.api.ea(0); // lets a simulated board under an emulator translate its code once
    return s;
}

namespace {

bool reload_refused(session &s, const std::string &why)
{
    std::cerr << program_invocation_short_name << ": cannot load the driver again: " << s.library << " "
              << why << "\n";
    s.api = {};
    return false;
}

} // namespace

bool reload_driver(session &s)
{
    if (s.handle)
        dlclose(s.handle);
    s.handle = nullptr;
    // Still there after the close: its constructor would not run again.
    if (void *kept = dlopen(s.library.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(kept);
        return reload_refused(s, "stays loaded");
    }
    s.handle = dlopen(s.library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!s.handle)
        return reload_refused(s, std::string("does not load: ") + dlerror());
    if (!resolve(s.handle, s.api).empty())
        return reload_refused(s, "lacks entry points");
    return true;
}

namespace {

answer_check check_answer_once(session &s)
{
    constexpr int sentinels[] = {0xFFFF, 0xFEFE};
    bool both_bytes = false, in_range = true;
    answer_check check;
    for (const int sentinel : sentinels) {
        s.api.sa(-1, sentinel); // sets the reply bytes, writes nothing
        const auto start = std::chrono::steady_clock::now();
        check.count = s.api.ea(0);
        check.ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        in_range = in_range && check.count <= tools::board::count_highest;
        both_bytes = both_bytes || (check.count & 0xFF) != (sentinel & 0xFF);
    }
    check.result = !in_range ? answer::none : both_bytes ? answer::whole : answer::one_byte;
    return check;
}

} // namespace

answer_check check_answer(session &s)
{
    // A reply that misses the deadline once on a machine busy with other work
    // is not a silent board: a faulty one answers wrong every time.
    constexpr int attempts = 3;
    answer_check check = check_answer_once(s);
    for (int attempt = 1; attempt < attempts && check.result != answer::whole; ++attempt)
        check = check_answer_once(s);
    return check;
}

} // namespace vostrelle::host
