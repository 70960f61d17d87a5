#include "driver.h"

#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace vostrelle::test {

namespace {

std::mutex sleeps_mutex;
bool skipping_start_up = false;
bool recording_sleeps = false;
std::vector<timespec> sleeps;

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

// The driver's sleeps come here first (see skip_start_up_delay).
extern "C" __attribute__((visibility("default"))) int nanosleep(const timespec *request, timespec *remaining)
{
    if (request) {
        std::lock_guard lock(vostrelle::test::sleeps_mutex);
        if (vostrelle::test::recording_sleeps)
            vostrelle::test::sleeps.push_back(*request);
        if (vostrelle::test::skipping_start_up && request->tv_sec == 2 && request->tv_nsec == 0)
            return 0;
    }
    return static_cast<int>(syscall(SYS_nanosleep, request, remaining));
}
