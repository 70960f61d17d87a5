// `doctor`: why might readings be zeros? Each finding is one line, `ok`,
// `FAIL` or `note`, with one thing to do; any FAIL makes the exit status 1.
#include <algorithm>
#include <chrono>
#include <grp.h>
#include <iostream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "ports.h"
#include "probe.h"
#include "processes.h"

namespace vostrelle::probe {

namespace {

enum class level { ok, fail, note };

class findings {
public:
    void add(level kind, const std::string &text)
    {
        static constexpr const char *labels[] = {"ok    ", "FAIL  ", "note  "};
        std::cout << labels[static_cast<int>(kind)] << text << "\n";
        failed_ = failed_ || kind == level::fail;
    }
    int exit_status() const { return failed_ ? 1 : 0; }

private:
    bool failed_ = false;
};

constexpr const char *i386_loader = "/lib/ld-linux.so.2";
constexpr const char *i386_c_libraries[] = {"/lib/i386-linux-gnu/libc.so.6", "/lib32/libc.so.6"};
constexpr const char *library_soname = "libvostrelle.so.1";
constexpr const char *add_i386 = "sudo dpkg --add-architecture i386 && sudo apt update && ";
constexpr const char *modem_manager = "ModemManager";

std::string user_name()
{
    const passwd *user = getpwuid(getuid());
    return user ? user->pw_name : std::to_string(getuid());
}

bool in_session_groups(gid_t gid)
{
    if (getegid() == gid)
        return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, getgroups(0, nullptr))));
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(0, count), gid) !=
           groups.begin() + std::max(0, count);
}

// Whether /etc/group (or the user's primary group) puts this user in `gid`.
bool in_configured_groups(gid_t gid)
{
    const passwd *user = getpwuid(getuid());
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count);
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// The board missing at the driver's path: is it somewhere else?
void examine_missing(findings &out, const std::string &device)
{
    std::vector<std::string> others = serial_port_paths();
    std::erase(others, device);
    if (!others.empty()) {
        out.add(level::fail,
                device + " does not exist, but " + others.front() +
                    " does: if that is the board, start the host with `VOSTRELLE_DEVICE=" + others.front() +
                    "` in its environment (`vostrelle-probe list` shows what each "
                    "port is)");
        return;
    }
    out.add(level::fail,
            device + " does not exist: plug the board in (the kernel names it when its cdc_acm driver "
                     "sees it; `dmesg | tail` shows it), or run a host against a simulated board with "
                     "`vostrelle-sim --run -- PROGRAM`");
}

void examine_access(findings &out, const std::string &device, const port_access &access)
{
    const std::string user = user_name();
    const mode_t mode = access.mode;
    if (access.can_open) {
        const bool by_mode = (access.owner == getuid() && (mode & S_IRUSR) && (mode & S_IWUSR)) ||
                             (in_session_groups(access.gid) && (mode & S_IRGRP) && (mode & S_IWGRP)) ||
                             ((mode & S_IROTH) && (mode & S_IWOTH)) || geteuid() == 0;
        out.add(level::ok,
                user + " may open " + device + " for reading and writing" +
                    (by_mode ? "" : " (granted by an access control list, as udev's uaccess does)"));
        return;
    }
    if (in_configured_groups(access.gid) && !in_session_groups(access.gid)) {
        out.add(level::fail, user + " is in group '" + access.group +
                                 "' in /etc/group, but not yet in this "
                                 "session: log out and in again (or run `newgrp " +
                                 access.group + "` in this terminal)");
        return;
    }
    out.add(level::fail, user + " may not open " + device + " (owner group '" + access.group + "', " +
                             mode_text(access.mode) + "): run `sudo usermod -aG " + access.group + " " +
                             user + "`, then log out and in again");
}

void examine_holders(findings &out, const std::string &device)
{
    const device_holders found = processes_holding(device);
    std::string others, simulators;
    for (const auto &p : found.holders)
        (p.name == "vostrelle-sim" ? simulators : others) +=
            " " + p.name + " (" + std::to_string(p.pid) + ")";
    if (!others.empty())
        out.add(level::fail, device + " is held by" + others +
                                 ": its traffic would mix with the driver's; close that program first");
    else if (!simulators.empty())
        out.add(level::ok, device + " is the simulated board of" + simulators);
    else
        out.add(level::ok, "no other process of yours holds " + device);
    if (found.unexamined > 0)
        out.add(level::note,
                std::to_string(found.unexamined) +
                    " processes of other users could not be examined, and the usual holder is a root "
                    "service: run `sudo vostrelle-probe doctor` to see them all");
}

void examine_modem_manager(findings &out)
{
    const auto running = processes_named(modem_manager);
    if (running.empty())
        return;
    out.add(level::note,
            std::string(modem_manager) + " (" + std::to_string(running.front().pid) +
                ") is running: it opens every new ACM port for several seconds after plug-in and "
                "writes modem commands to it, so the first readings can be wrong or the port busy. "
                "Install the rule from `vostrelle-probe udev-rule` (it sets ID_MM_DEVICE_IGNORE), or "
                "on a lab machine with no modem: `sudo systemctl disable --now ModemManager`");
}

bool any_exists(std::initializer_list<const char *> paths)
{
    return std::any_of(paths.begin(), paths.end(), [](const char *p) { return access(p, F_OK) == 0; });
}

// Where the i386 loader would find the library: its cache lists i386 entries
// as "(libc6)", x86_64 ones as "(libc6,x86-64)".
std::optional<std::string> i386_library_in_loader_cache()
{
    const auto cache = tools::output_of({"/sbin/ldconfig", "-p"});
    if (!cache)
        return std::nullopt;
    std::istringstream lines(*cache);
    for (std::string line; std::getline(lines, line);) {
        const auto arrow = line.find("=> ");
        if (line.find(library_soname) != std::string::npos && line.find("(libc6)") != std::string::npos &&
            arrow != std::string::npos)
            return line.substr(arrow + 3);
    }
    return std::nullopt;
}

// The pieces a 32-bit host application needs on a 64-bit PC. For a probe
// built for i386 they are its own: missing ones fail; for any other build
// they matter only to 32-bit hosts, and are notes.
void examine_i386(findings &out)
{
    utsname machine{};
    if (uname(&machine) != 0 || std::string(machine.machine) != "x86_64")
        return;
    const level missing = sizeof(void *) == 4 ? level::fail : level::note;
    const std::string for_hosts = sizeof(void *) == 4 ? "" : " (needed by 32-bit host applications only)";
    if (access(i386_loader, F_OK) != 0) {
        out.add(missing, std::string("no i386 loader (") + i386_loader + ")" + for_hosts + ": " + add_i386 +
                             "sudo apt install libc6:i386");
        return;
    }
    if (!any_exists({i386_c_libraries[0], i386_c_libraries[1]}))
        out.add(missing, "no i386 C library" + for_hosts + ": " + add_i386 + "sudo apt install libc6:i386");
    const auto runs = tools::status_of({i386_loader, "--version"});
    if (runs && *runs != 127)
        out.add(level::ok, "this kernel runs i386 programs");
    else if (access("/usr/bin/qemu-i386", X_OK) == 0)
        out.add(level::note, "this kernel cannot run i386 programs itself, but qemu-i386 can: start the host "
                             "application as `qemu-i386 -L / PROGRAM`");
    else
        out.add(missing,
                "this kernel cannot run i386 programs (Exec format error)" + for_hosts +
                    ": use a kernel with IA32 emulation, or `sudo apt install qemu-user` and start the host "
                    "as `qemu-i386 -L / PROGRAM`");
    if (const auto found = i386_library_in_loader_cache())
        out.add(level::ok, std::string("the i386 loader finds ") + library_soname + " at " + *found);
    else
        out.add(missing, std::string("the i386 loader does not find ") + library_soname + for_hosts + ": " +
                             add_i386 +
                             "sudo apt install libvostrelle1:i386 (a copy elsewhere needs its directory "
                             "in /etc/ld.so.conf.d/ and `sudo ldconfig`)");
}

void examine_conversion(findings &out, session &s)
{
    const answer_check check = check_answer(s);
    if (check.result == answer::whole)
        out.add(level::ok, "the board answered a conversion of PA0 within the deadline (count " +
                               std::to_string(check.count) + ", " + std::to_string(check.ms).substr(0, 4) +
                               " ms)");
    else if (check.result == answer::one_byte)
        out.add(level::fail,
                "the board answered a conversion with one byte of two: its firmware or the line is "
                "faulty; unplug it, plug it in again, and close other programs using it");
    else
        out.add(level::fail,
                "the board did not answer a conversion within the deadline: is its firmware running? "
                "Unplug it, plug it in again, and close other programs using it");
}

} // namespace

namespace {

// The device the driver will open: whether it is there, may be opened, is
// held. Its access, for the conversion check.
port_access examine_device(findings &out, const std::string &device)
{
    port_access access = access_to(device);
    if (!access.exists)
        examine_missing(out, device);
    else if (!access.character_device)
        out.add(level::fail,
                device + " exists but is not a character device: remove it and plug the board in again");
    else
        out.add(level::ok, device + " exists");
    if (access.exists) {
        examine_access(out, device, access);
        examine_holders(out, device);
    }
    return access;
}

} // namespace

int run_doctor(const std::vector<std::string> &libraries, std::optional<sim::fault_mode> simulate)
{
    findings out;
    std::unique_ptr<sim::simulated_board> board;
    if (simulate) {
        board = start_simulated_board(*simulate);
        out.add(level::note,
                "simulated board (" + std::string(sim::name_of(*simulate)) + ") on " + board->device_path());
    }
    const port_access access = examine_device(out, host::chosen_device(board.get()));
    examine_modem_manager(out);
    examine_i386(out);

    auto s = open_session(libraries, std::move(board));
    if (!s) {
        out.add(level::fail, "the driver library does not load (see above)");
        return 1;
    }
    out.add(level::ok, "loaded " + s->library + " (71 entry points)");
    if (!access.can_open)
        out.add(level::note, "no conversion tried: the driver cannot reach a board");
    else
        examine_conversion(out, *s);
    return out.exit_status();
}

} // namespace vostrelle::probe
