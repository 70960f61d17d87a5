// Loading the driver library as a host does, the device it is sent to, and
// the check that the board answers.
#include "session.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <iostream>
#include <link.h>
#include <mutex>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

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

// The driver keeps its state in the module and reads its device once, when
// it loads; dlopen of a path already loaded only counts one more reference.
// So a second board gets a private copy of the library in a memory file
// (memfd), which the loader takes for another object: a new instance with its
// own state, for about 0.4 ms and 120 KiB more than a load (bench/README.md).
// A new link-map namespace (dlmopen) would do the same, but loads a second C
// library for each board, and namespaces are few (16).
std::optional<int> private_copy(const std::string &path)
{
    const int from = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return std::nullopt;
    const int copy = memfd_create("vostrelle-driver", MFD_CLOEXEC);
    std::array<char, 65536> buffer{};
    ssize_t got = 0;
    bool copied = copy >= 0;
    while (copied && (got = read(from, buffer.data(), buffer.size())) > 0)
        copied = write(copy, buffer.data(), static_cast<std::size_t>(got)) == got;
    close(from);
    if (copied && got == 0)
        return copy;
    if (copy >= 0)
        close(copy);
    return std::nullopt;
}

// The file a library already loaded came from (a name the system found, or a path).
std::string loaded_file(void *handle)
{
    link_map *map = nullptr;
    dlinfo(handle, RTLD_DI_LINKMAP, &map);
    return map && map->l_name ? map->l_name : "";
}

// The path to give dlopen for `path`: itself, or a private copy when another
// session has it loaded already.
std::optional<std::string> instance_path(const std::string &path)
{
    void *loaded = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!loaded)
        return path;
    const std::string file = loaded_file(loaded);
    dlclose(loaded);
    const auto copy = private_copy(file);
    return copy ? std::optional("/proc/self/fd/" + std::to_string(*copy)) : std::nullopt;
}

// The driver reads its device from VOSTRELLE_DEVICE as it loads: one load at
// a time, each with its board's device, the variable restored after. A board
// thread reloads its driver while other threads run, so nothing else may read
// the environment meanwhile: the tools read it only on the main thread before
// any board thread starts, and host_main calls tzset() first, after which
// localtime_r no longer looks at TZ.
std::mutex load_mutex;

void *load_for(const std::string &path, const std::string &device)
{
    const std::scoped_lock one_at_a_time(load_mutex);
    const char *before = std::getenv("VOSTRELLE_DEVICE");
    const std::optional<std::string> kept = before ? std::optional<std::string>(before) : std::nullopt;
    setenv("VOSTRELLE_DEVICE", device.c_str(), 1);
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (kept)
        setenv("VOSTRELLE_DEVICE", kept->c_str(), 1);
    else
        unsetenv("VOSTRELLE_DEVICE");
    return handle;
}

// Loads the first library of `libraries` that loads; false, with every path
// tried and why, when none does.
bool load_library(session &s, const std::vector<std::string> &libraries)
{
    std::string reasons;
    for (const auto &path : libraries) {
        const auto instance = instance_path(path);
        s.handle = instance ? load_for(*instance, s.device) : nullptr;
        if (s.handle) {
            s.library = path;
            s.loaded_from = *instance;
            return true;
        }
        reasons += "  " + path + ": " + (instance ? dlerror() : "cannot copy it for one more board") + "\n";
    }
    std::cerr << program_invocation_short_name << ": cannot load the driver library; tried:\n"
              << reasons << "Give its path with --library PATH.\n";
    return false;
}

std::optional<session> open_loaded(session s, const std::vector<std::string> &libraries)
{
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

} // namespace

std::optional<session> open_session(const std::vector<std::string> &libraries,
                                    std::unique_ptr<sim::simulated_board> board)
{
    session s;
    s.board = std::move(board);
    s.device = chosen_device(s.board.get());
    return open_loaded(std::move(s), libraries);
}

std::optional<session> open_session(const std::vector<std::string> &libraries, const std::string &device)
{
    session s;
    s.device = device;
    return open_loaded(std::move(s), libraries);
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
    if (void *kept = dlopen(s.loaded_from.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(kept);
        return reload_refused(s, "stays loaded");
    }
    s.handle = load_for(s.loaded_from, s.device);
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
