// Feeds arbitrary channel numbers, values and doubles into every entry
// point in arbitrary order, with no board or with a board whose replies come
// from the input, and checks what must always hold:
//  - texts are NUL-terminated and one of the driver's own texts, or empty;
//  - nothing is written to the board for a channel without a command;
//  - rsb answers what the last sb stored; eb, rsa and rsad never change.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "board/rounding.h"
#include "entry_points.h"
#include "link/driver_state.h"
#include "link/serial_line.h"
#include "signature.h"

namespace {

using namespace vostrelle;

int board_descriptor = -1;
std::size_t bytes_to_board = 0;
char board_path[] = "/tmp/vostrelle-fuzz-board-XXXXXX";
std::set<std::string> driver_texts;
std::int16_t readback_model[9] = {};
host::entry_points api;

class reader {
public:
    reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return used_ == size_; }
    template <typename T> T take()
    {
        T value{};
        const std::size_t n = std::min(sizeof value, size_ - used_);
        std::memcpy(&value, data_ + used_, n);
        used_ += n;
        return value;
    }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t used_ = 0;
};

[[noreturn]] void broken(const std::string &name, const char *what)
{
    std::fprintf(stderr, "invariant broken by %s: %s\n", name.c_str(), what);
    std::abort();
}

std::string base_name(const std::string &name, bool c_family)
{
    if (name.rfind("std", 0) == 0)
        return name.substr(3);
    return c_family ? name.substr(1) : name;
}

bool has(const std::string &name, std::initializer_list<const char *> names)
{
    for (const char *n : names)
        if (name == n)
            return true;
    return false;
}

template <typename T> std::int32_t as_channel(T argument)
{
    if constexpr (std::is_same_v<T, double>)
        return board::round_to_int(argument);
    else
        return argument;
}

template <typename Fn>
void call_and_check(const std::string &name, const std::string &base, Fn entry, reader &input)
{
    typename test::signature<Fn>::arguments arguments{};
    std::apply([&](auto &...argument) { ((argument = input.take<std::decay_t<decltype(argument)>>()), ...); },
               arguments);
    bytes_to_board = 0;
    const auto result = std::apply(entry, arguments);
    std::int32_t channel = 0;
    if constexpr (std::tuple_size_v < decltype(arguments) >> 0)
        channel = as_channel(std::get<0>(arguments));
    using result_type = std::remove_cv_t<decltype(result)>;

    if constexpr (std::is_same_v<result_type, const char *>) {
        if (std::strlen(result) >= 64 || !driver_texts.count(result))
            broken(name, "a text that is not the driver's");
    }
    const bool converts = has(base, {"ea", "ead", "eadouble"});
    const bool sets_analog = has(base, {"sa", "sad", "sadouble"});
    const bool sets_line = has(base, {"sb", "sbdouble"});
    const bool may_write = (converts && channel >= 0 && channel < 8) ||
                           (sets_analog && channel >= 0 && channel < 3) ||
                           (sets_line && channel >= 0 && channel < 8);
    if (!may_write && bytes_to_board != 0)
        broken(name, "bytes written for a channel without a command");
    if constexpr (std::tuple_size_v<decltype(arguments)> == 2) {
        if (sets_line && channel >= 0 && channel <= 8)
            readback_model[channel] = static_cast<std::int16_t>(as_channel(std::get<1>(arguments)));
    }
    if constexpr (!std::is_same_v<result_type, const char *>) {
        if (has(base, {"rsb", "rsbdouble"}) &&
            result != (channel >= 0 && channel <= 8 ? readback_model[channel] : 0))
            broken(name, "rsb differs from the last sb");
        if (has(base, {"eb", "ebdouble"}) && result != -777)
            broken(name, "eb is not -777");
        if (has(base, {"rsa", "rsad", "rsadouble"}) && result != 0)
            broken(name, "an analog read-back is not 0");
    }
}

using caller = void (*)(reader &);
std::vector<caller> callers;

void collect_texts()
{
    driver_texts.insert("");
    driver_texts.insert(api.titre());
    driver_texts.insert(api.detail());
    for (int k = 0; k < 16; ++k)
        for (auto name_of : {api.nea, api.nead, api.neb, api.nsa, api.nsad, api.nsb})
            driver_texts.insert(name_of(k));
}

} // namespace

// Counts what reaches the board.
extern "C" ssize_t write(int fd, const void *bytes, size_t length)
{
    using real_type = ssize_t (*)(int, const void *, size_t);
    static const auto real = reinterpret_cast<real_type>(dlsym(RTLD_NEXT, "write"));
    const ssize_t sent = real(fd, bytes, length);
    if (fd == board_descriptor && sent > 0)
        bytes_to_board += static_cast<std::size_t>(sent);
    return sent;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO); // stdsad's line
    close(null);
    close(mkstemp(board_path));
    link::load_driver();
    board_descriptor = -1;
    link::close_serial_ports();
    const auto missing = host::resolve(RTLD_DEFAULT, api);
    if (!missing.empty())
        std::abort();
    collect_texts();
    const auto names = host::entry_point_names();
    std::size_t index = 0;
#define VOSTRELLE_FUZZ_STD(name, result, params, args)                                                       \
    callers.push_back([](reader &input) { call_and_check(#name, #name, api.name, input); });                 \
    ++index;
#define VOSTRELLE_FUZZ_C(name, result, params, args)                                                         \
    callers.push_back([](reader &input) { call_and_check("c" #name, #name, api.c##name, input); });          \
    ++index;
#define VOSTRELLE_FUZZ_STD_FORM(name, result, params, args)                                                  \
    callers.push_back([](reader &input) { call_and_check("std" #name, #name, api.std##name, input); });      \
    ++index;
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_FUZZ_STD)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_FUZZ_STD)
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_FUZZ_C)
    VOSTRELLE_BASE_ENTRY_POINTS(VOSTRELLE_FUZZ_STD_FORM)
    VOSTRELLE_DOUBLE_ENTRY_POINTS(VOSTRELLE_FUZZ_STD_FORM)
    // libFuzzer ignores what this returns: a harness that missed an entry
    // point stops here.
    if (index != names.size()) {
        std::fprintf(stderr, "the harness calls %zu of %zu entry points\n", index, names.size());
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    reader input(data, size);
    const auto setup = input.take<std::uint8_t>();
    if (setup & 1) {
        // A board whose every reply byte comes from the input.
        const auto reply_length = static_cast<std::size_t>(input.take<std::uint8_t>() % 64);
        std::vector<std::uint8_t> replies(reply_length);
        for (auto &byte : replies)
            byte = input.take<std::uint8_t>();
        const int file = open(board_path, O_WRONLY | O_TRUNC);
        if (file >= 0) {
            (void)!::write(file, replies.data(), replies.size());
            close(file);
        }
        board_descriptor = link::open_serial_port(0, board_path, 38400, 8, 1.0f, 0);
    } else {
        link::close_serial_ports();
        board_descriptor = -1;
    }
    for (int calls = 0; calls < 64 && !input.empty(); ++calls)
        callers[input.take<std::uint8_t>() % callers.size()](input);
    return 0;
}
