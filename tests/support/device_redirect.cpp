// The redirect of the board device: this program's own open and open64, which a
// dlopen'ed driver calls, open the chosen path instead of /dev/ttyACM0.
#include "device_redirect.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace vostrelle::redirect {

namespace {

std::mutex target_mutex;
char target[4096];
std::atomic<int> led_descriptor{-1};

bool takes_mode(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

int open_redirected(const char *path, int flags, mode_t mode)
{
    char chosen[sizeof target] = "";
    {
        std::lock_guard<std::mutex> lock(target_mutex);
        if (path != nullptr && target[0] != '\0' && std::strcmp(path, board_device) == 0)
            std::memcpy(chosen, target, sizeof chosen);
    }
    // A raw system call, so that this works before any other library is ready.
    const int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, chosen[0] ? chosen : path, flags, mode));
    if (chosen[0])
        led_descriptor = fd;
    return fd;
}

} // namespace

void lead_board_to(const std::string &path)
{
    std::lock_guard<std::mutex> lock(target_mutex);
    const std::size_t length = std::min(path.size(), sizeof target - 1);
    std::memcpy(target, path.data(), length);
    target[length] = '\0';
}

int board_descriptor()
{
    return led_descriptor;
}

} // namespace vostrelle::redirect

extern "C" __attribute__((visibility("default"))) int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    // The analyzer takes this for the C library's own open and misses va_start.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const mode_t mode = vostrelle::redirect::takes_mode(flags) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return vostrelle::redirect::open_redirected(path, flags, mode);
}

extern "C" __attribute__((visibility("default"))) int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    // The analyzer takes this for the C library's own open and misses va_start.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const mode_t mode = vostrelle::redirect::takes_mode(flags) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return vostrelle::redirect::open_redirected(path, flags | O_LARGEFILE, mode);
}
