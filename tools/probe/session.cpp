#include <dlfcn.h>
#include <iostream>
#include <unistd.h>

#include "device_redirect.h"
#include "probe.h"

namespace vostrelle::probe {

namespace {

std::string executable_directory()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string whole(path, static_cast<std::size_t>(length));
    return whole.substr(0, whole.rfind('/'));
}

} // namespace

std::vector<std::string> default_library_paths()
{
    std::vector<std::string> paths;
    if (access(VOSTRELLE_BUILD_LIBRARY, F_OK) == 0)
        paths.emplace_back(VOSTRELLE_BUILD_LIBRARY);
    paths.push_back(executable_directory() + "/../" VOSTRELLE_RELATIVE_LIBRARY);
    paths.emplace_back(VOSTRELLE_INSTALLED_LIBRARY);
    return paths;
}

std::string latin1_to_utf8(const std::string &text)
{
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.push_back(c);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

std::unique_ptr<sim::simulated_board> start_simulated_board(sim::fault_mode mode)
{
    auto board = std::make_unique<sim::simulated_board>(mode);
    board->set_waveform(true);
    return board;
}

std::optional<session> open_session(const std::vector<std::string> &libraries,
                                    std::unique_ptr<sim::simulated_board> board)
{
    session s;
    s.board = std::move(board);
    if (s.board)
        redirect::lead_board_to(s.board->device_path());
    std::string reasons;
    for (const auto &path : libraries) {
        s.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (s.handle) {
            s.library = path;
            break;
        }
        reasons += "  " + path + ": " + dlerror() + "\n";
    }
    if (!s.handle) {
        std::cerr << "vostrelle-probe: cannot load the driver library; tried:\n"
                  << reasons << "Give its path with --library PATH.\n";
        return std::nullopt;
    }
    if (const auto missing = host::resolve(s.handle, s.api); !missing.empty()) {
        std::cerr << "vostrelle-probe: " << s.library << " lacks " << missing.size()
                  << " entry points (first: " << missing.front() << "): not a Vostrelle driver?\n";
        return std::nullopt;
    }
    if (s.board)
        s.api.ea(0); // lets a simulated board under an emulator translate its code once
    return s;
}

} // namespace vostrelle::probe
