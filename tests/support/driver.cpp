#include "driver.h"

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

#include "device_redirect.h"

namespace vostrelle::test {

namespace {

std::mutex sleeps_mutex;
bool skipping_start_up = false;
bool recording_sleeps = false;
std::vector<timespec> sleeps;
std::function<void()> settle_hook;

thread_local bool clock_is_virtual = false;
thread_local std::int64_t virtual_now_ns = 0;
thread_local bool in_settle_hook = false;

std::atomic<std::uint64_t> written_to_board{0};
std::atomic<std::uint64_t> read_from_board{0};

constexpr std::int64_t ns_per_second = 1000000000;
constexpr std::int64_t virtual_tick_ns = 1000000;

std::int64_t nanoseconds(const timespec &t)
{
    return static_cast<std::int64_t>(t.tv_sec) * ns_per_second + t.tv_nsec;
}

// The driver's sleeps after a command: 1 ms for a count, 2 ms for volts.
bool is_settle_sleep(const timespec &request)
{
    return request.tv_sec == 0 && (request.tv_nsec == 1000000 || request.tv_nsec == 2000000);
}

void run_settle_hook()
{
    std::function<void()> hook;
    {
        std::lock_guard lock(sleeps_mutex);
        hook = settle_hook;
    }
    if (hook && !in_settle_hook) {
        in_settle_hook = true;
        hook();
        in_settle_hook = false;
    }
}

template <typename Function> Function next_definition(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

const char *library_path()
{
    return VOSTRELLE_LIBRARY_PATH;
}

loaded_driver::~loaded_driver()
{
    if (handle_)
        dlclose(handle_);
}

void loaded_driver::load()
{
    handle_ = dlopen(library_path(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    const auto missing = host::resolve(handle_, api_);
    EXPECT_EQ(missing, std::vector<std::string>{}) << "entry points missing";
}

void loaded_driver::unload()
{
    ASSERT_NE(handle_, nullptr);
    ASSERT_EQ(dlclose(handle_), 0) << dlerror();
    handle_ = nullptr;
    api_ = {};
    EXPECT_EQ(dlopen(library_path(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the library stayed in the process after dlclose";
}

void *loaded_driver::symbol(const char *name) const
{
    return dlsym(handle_, name);
}

void skip_start_up_delay(bool skip)
{
    std::lock_guard lock(sleeps_mutex);
    skipping_start_up = skip;
}

std::vector<timespec> requested_sleeps()
{
    std::lock_guard lock(sleeps_mutex);
    return sleeps;
}

void record_sleeps_from_now()
{
    std::lock_guard lock(sleeps_mutex);
    sleeps.clear();
    recording_sleeps = true;
}

void on_settle_sleep(std::function<void()> hook)
{
    std::lock_guard lock(sleeps_mutex);
    settle_hook = std::move(hook);
}

virtual_clock::virtual_clock()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    virtual_now_ns = nanoseconds(now);
    clock_is_virtual = true;
}

virtual_clock::~virtual_clock()
{
    clock_is_virtual = false;
}

board_traffic traffic_on_board()
{
    return {written_to_board.load(), read_from_board.load()};
}

void reset_board_traffic()
{
    written_to_board = 0;
    read_from_board = 0;
}

int open_descriptor_count()
{
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    while (fds && readdir(fds))
        ++count;
    if (fds)
        closedir(fds);
    return count;
}

std::vector<int> descriptors_on(const std::string &path)
{
    std::vector<int> found;
    DIR *fds = opendir("/proc/self/fd");
    while (const dirent *entry = fds ? readdir(fds) : nullptr) {
        char target[4096];
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<std::size_t>(length)) == path)
            found.push_back(std::atoi(entry->d_name));
    }
    if (fds)
        closedir(fds);
    return found;
}

int descriptors_open_on(const std::string &path)
{
    return static_cast<int>(descriptors_on(path).size());
}

standard_output_capture::standard_output_capture()
{
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
}

standard_output_capture::~standard_output_capture()
{
    finish();
}

std::string standard_output_capture::finish()
{
    if (!file_)
        return {};
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(file_);
    file_ = nullptr;
    return text;
}

} // namespace vostrelle::test

// The driver's sleeps, clock and transfers come here first (see
// skip_start_up_delay, on_settle_sleep, virtual_clock, traffic_on_board).
extern "C" __attribute__((visibility("default"))) int nanosleep(const timespec *request, timespec *remaining)
{
    using namespace vostrelle::test;
    if (request) {
        {
            std::lock_guard lock(sleeps_mutex);
            if (recording_sleeps)
                sleeps.push_back(*request);
            if (skipping_start_up && request->tv_sec == 2 && request->tv_nsec == 0)
                return 0;
        }
        if (is_settle_sleep(*request))
            run_settle_hook();
        if (clock_is_virtual) {
            virtual_now_ns += nanoseconds(*request);
            return 0;
        }
    }
    return static_cast<int>(syscall(SYS_nanosleep, request, remaining));
}

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t clock, timespec *now)
{
    using namespace vostrelle::test;
    if (clock_is_virtual && clock == CLOCK_MONOTONIC) {
        virtual_now_ns += virtual_tick_ns;
        now->tv_sec = static_cast<time_t>(virtual_now_ns / ns_per_second);
        now->tv_nsec = static_cast<long>(virtual_now_ns % ns_per_second);
        return 0;
    }
    static const auto real = next_definition<int (*)(clockid_t, timespec *)>("clock_gettime");
    return real(clock, now);
}

extern "C" __attribute__((visibility("default"))) ssize_t read(int fd, void *buffer, size_t size)
{
    static const auto real = vostrelle::test::next_definition<ssize_t (*)(int, void *, size_t)>("read");
    const ssize_t got = real(fd, buffer, size);
    if (got > 0 && fd == vostrelle::redirect::board_descriptor())
        vostrelle::test::read_from_board += static_cast<std::uint64_t>(got);
    return got;
}

extern "C" __attribute__((visibility("default"))) ssize_t write(int fd, const void *bytes, size_t size)
{
    static const auto real =
        vostrelle::test::next_definition<ssize_t (*)(int, const void *, size_t)>("write");
    const ssize_t sent = real(fd, bytes, size);
    if (sent > 0 && fd == vostrelle::redirect::board_descriptor())
        vostrelle::test::written_to_board += static_cast<std::uint64_t>(sent);
    return sent;
}
