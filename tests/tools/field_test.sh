#!/usr/bin/env bash
# What a user meets in the field: a board at another port, group membership
# not yet in the session, a simulated board for any user, the udev rule, and
# the tools' behaviour under signals and stalled output.
# Usage: field_test.sh PROBE SIM DEVICE-HOST LIBRARY RUNNER
# Parts that need root (users, /dev, set-user-ID) say so and are skipped
# without it.
set -u
probe=$1 sim=$2 device_host=$3 library=$4 runner=$5
scratch=$(mktemp -d)
chmod 755 "$scratch"
cleanup() {
  kill $(jobs -p) 2>/dev/null
  rm -f /dev/ttyACM0 /dev/ttyACM1 2>/dev/null # only links of ours are ever made there
  rm -rf "$scratch"
}
trap cleanup EXIT
source "$(dirname "$0")/helpers.sh"

outsider=vostrelle-outsider member=vostrelle-member group=vostrelle-dev
as_root=false
[ "$(id -u)" -eq 0 ] && command -v useradd >/dev/null && command -v setpriv >/dev/null && as_root=true
if $as_root; then
  getent group $group >/dev/null || groupadd --system $group
  for user in $outsider $member; do
    id $user >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin $user
  done
  usermod -aG $group $member
  # A stand-in for the board's device node: /dev/null's numbers, our group.
  mknod "$scratch/ttyFAKE" c 1 3 && chgrp $group "$scratch/ttyFAKE" && chmod 660 "$scratch/ttyFAKE"
  if ! setpriv --reuid=$outsider --regid=$outsider --clear-groups test -x "$probe" -a -x "$runner"; then
    echo "skipped the parts as other users: they cannot reach $probe or $runner"
    as_root=false
  fi
else
  echo "skipped the parts as other users and in /dev: they need root"
fi
# as USER [--in-session] PROGRAM ARGS...: PROGRAM (one built here) through the
# runner, with no groups, or with the groups /etc/group gives the user.
as() {
  local user=$1 groups=--clear-groups
  shift
  [ "$1" = --in-session ] && { groups=--init-groups; shift; }
  setpriv --reuid="$user" --regid="$user" "$groups" "$runner" "$@"
}

# Usage errors exit 2 from either tool, whatever catches them.
start probe-usage "$probe" --bogus info
start sim-usage "$sim" --bogus
start sim-run-alone "$sim" --run
start simulate-beside-device "$probe" --simulate record --device /dev/null --count 1

start run-status "$sim" --run -- sh -c 'exit 7'
# A program that ends at once, beside the trace's thread: its end was now and
# then taken by that thread and lost, and the simulator waited for ever.
quick_runs() {
  for _ in $(seq 20); do
    timeout 30 "$runner" "$sim" --trace --run -- sh -c 'exit 7'
    echo "ended $?"
  done
}
start quick-runs quick_runs

# The udev rule, made from a fake sysfs tree's USB device.
usb="$scratch/sys/devices/pci0000:00/usb1/1-2"
mkdir -p "$usb/1-2:1.0" "$scratch/sys/class/tty/ttyACM7"
printf '%s\n' 2341 >"$usb/idVendor"
printf '%s\n' 8036 >"$usb/idProduct"
printf '%s\n' "Quenardel" >"$usb/manufacturer"
printf '%s\n' "Vostrelle" >"$usb/product"
printf '%s\n' "VS0042" >"$usb/serial"
ln -s "../../../devices/pci0000:00/usb1/1-2/1-2:1.0" "$scratch/sys/class/tty/ttyACM7/device"
VOSTRELLE_SYSFS_ROOT="$scratch/sys" start udev-rule "$probe" udev-rule /dev/ttyACM7
VOSTRELLE_SYSFS_ROOT="$scratch/sys" start udev-none "$probe" udev-rule /dev/ttyACM9

if $as_root; then
  VOSTRELLE_DEVICE="$scratch/ttyFAKE" start doctor-root "$probe" doctor
  VOSTRELLE_DEVICE="$scratch/ttyFAKE" start doctor-outsider as $outsider "$probe" doctor
  VOSTRELLE_DEVICE="$scratch/ttyFAKE" start doctor-not-in-session as $member "$probe" doctor
  VOSTRELLE_DEVICE="$scratch/ttyFAKE" start doctor-in-session \
    as $member --in-session "$probe" doctor
fi
# The doctors convert against a device that never answers, busy-waiting each
# reply's deadline: on two cores they would starve the simulated boards below.
finish_started

# The simulator ends with the program it runs and passes on its status.
start_reading run-read "0  EA0(PA0)0..1023     321" "$sim" --input 0=321 --run -- "$runner" "$probe" read
$as_root && start_reading run-as-user "0  EA0(PA0)0..1023     654" \
  as $outsider "$sim" --input 0=654 --run -- "$runner" "$probe" read

# A set-user-ID host never takes the device from its caller. Without an
# emulator only: under one, the emulator is what would be set-user-ID.
if $as_root && ! "$runner" --emulated; then
  : >"$scratch/chosen" && chmod 666 "$scratch/chosen"
  cp "$device_host" "$scratch/plain-host" && cp "$device_host" "$scratch/suid-host"
  chmod 4755 "$scratch/suid-host"
  VOSTRELLE_DEVICE="$scratch/chosen" start plain-run as $outsider "$scratch/plain-host" "$library"
  VOSTRELLE_DEVICE="$scratch/chosen" start suid-run as $outsider "$scratch/suid-host" "$library"
fi

# The busy readings below would starve these runs' boards on two cores.
finish_started

# Ctrl-Z and fg do not end the simulator; a closed terminal (SIGHUP) does,
# and takes its link away.
"$runner" "$sim" --link "$scratch/board" >"$scratch/sim-signals" 2>&1 &
sim_pid=$!
wait_for test -L "$scratch/board"
kill -STOP $sim_pid && kill -CONT $sim_pid && sleep 0.3
check "a stopped and continued simulator keeps running" kill -0 $sim_pid
check "with its link" test -L "$scratch/board"
kill -HUP $sim_pid
wait $sim_pid
check "SIGHUP ends the simulator cleanly" test $? -eq 0
check "and removes its link" test ! -e "$scratch/board"

# A trace nobody reads never holds up the board, and SIGTERM still ends it.
mkfifo "$scratch/stalled"
exec 3<>"$scratch/stalled" # opened, never read
"$runner" "$sim" --trace --print-device --input 2=700 >&3 2>/dev/null &
traced=$!
wait_for sh -c "[ \$(find /proc/$traced/fd -lname '/dev/pts/*' 2>/dev/null | wc -l) -gt 0 ]"
device=$(readlink /proc/$traced/fd/* 2>/dev/null | grep -m1 '^/dev/pts/')
VOSTRELLE_DEVICE=$device "$runner" "$probe" read --csv --count 60 --interval 0 >"$scratch/traced-read" 2>&1
# A board held up by its trace would answer none; on a busy machine a reply
# now and then comes after the driver's deadline and reads wrong.
check "a board whose trace is not read still answers" test "$(count_of traced-read ',2,EA2\(PA2\)0\.\.1023,700,')" -ge 54
kill -TERM $traced
wait_for sh -c "! kill -0 $traced 2>/dev/null"
check "and ends on SIGTERM" sh -c "! kill -0 $traced 2>/dev/null"
exec 3>&-

# A board at /dev/ttyACM1 only, then a second one at /dev/ttyACM0.
if $as_root && [ ! -e /dev/ttyACM0 ] && [ ! -e /dev/ttyACM1 ]; then
  "$runner" "$sim" --link /dev/ttyACM1 --input 0=111 >/dev/null 2>&1 &
  wait_for test -L /dev/ttyACM1
  start doctor-acm1 "$probe" doctor
  VOSTRELLE_DEVICE=/dev/ttyACM1 start_reading read-acm1 "0  EA0(PA0)0..1023     111" "$probe" read
  finish_started
  check "doctor points at the board's real port" has doctor-acm1 \
    "FAIL  /dev/ttyACM0 does not exist, but /dev/ttyACM1 does: .*VOSTRELLE_DEVICE=/dev/ttyACM1"
  check "and fails" test "$(status_of doctor-acm1)" -eq 1
  check "VOSTRELLE_DEVICE leads the driver there" has read-acm1 "0  EA0(PA0)0..1023     111"
  "$runner" "$sim" --link /dev/ttyACM0 --input 0=222 >/dev/null 2>&1 &
  wait_for test -L /dev/ttyACM0
  start list "$probe" list --ask
  finish_started # two askers at once would take each other's replies
  start list-json "$probe" list --ask --json
  finish_started
  check "list shows both ports, both answering" test "$(count_of list '^/dev/ttyACM[01] .*vostrelle-sim .*like the board')" -eq 2
  check "list names each board's reading" has list "like the board (PA0 222)"
  check "list --json says both answer" test "$(count_of list-json '"answers_like_the_board": true')" -eq 2
else
  echo "skipped the boards in /dev: not root, or a real /dev/ttyACM0 or /dev/ttyACM1 is there"
fi

check "a usage error in the probe exits 2" test "$(status_of probe-usage)" -eq 2
check "a usage error in the simulator exits 2" test "$(status_of sim-usage)" -eq 2
check "--run without a program is a usage error" test "$(status_of sim-run-alone)" -eq 2
check "--simulate beside --device is a usage error" test "$(status_of simulate-beside-device)" -eq 2
check "that says why" has simulate-beside-device "vostrelle-probe record: --simulate gives one simulated board; name boards"
check "--run runs a host against the board" has run-read "0  EA0(PA0)0..1023     321"
check "--run passes on the program's exit status" test "$(status_of run-status)" -eq 7
check "--run sees every end of a program that ends at once" test "$(count_of quick-runs '^ended 7$')" -eq 20

check "udev-rule prints a rule for the board's USB IDs and serial" has udev-rule \
  '^SUBSYSTEM=="tty", ATTRS{idVendor}=="2341", ATTRS{idProduct}=="8036", ATTRS{serial}=="VS0042", TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1", SYMLINK+="vostrelle"$'
check "and the commands that install and load it" has udev-rule "sudo udevadm control --reload-rules"
rule_syntax_ok() { # every key of every rule line: KEY, KEY{attribute}, then ==, =, += and a quoted value
  grep -v '^#' "$scratch/udev-rule" | grep '^SUBSYSTEM' | tr ',' '\n' | sed 's/^ *//' |
    grep -qvE '^[A-Z_]+(\{[A-Za-z_]+\})?(==|\+=|=)"[^"]*"$' && return 1
  if udevadm verify --help >/dev/null 2>&1; then
    grep -v '^[A-Z][a-z]' "$scratch/udev-rule" | grep -v '^  ' >"$scratch/70-vostrelle.rules"
    udevadm verify "$scratch/70-vostrelle.rules" >/dev/null
  fi
}
check "the rule is well-formed" rule_syntax_ok
check "udev-rule without a USB device fails and says why" has udev-none "no USB device behind /dev/ttyACM9"

if $as_root; then
  check "root may open the device" has doctor-root "ok    root may open $scratch/ttyFAKE"
  check "a user outside the group is told to join it" has doctor-outsider \
    "FAIL  $outsider may not open .*sudo usermod -aG $group $outsider"
  check "a member whose session predates the group is told to log in again" has doctor-not-in-session \
    "FAIL  $member is in group '$group' in /etc/group, but not yet in this session: log out and in again (or run \`newgrp $group\`"
  check "a member in session may open it" has doctor-in-session "ok    $member may open"
  check "doctor fails on a FAIL" test "$(status_of doctor-outsider)" -eq 1
  check "--run works for a user without a board or access to /dev" has run-as-user "0  EA0(PA0)0..1023     654"
fi
if [ -e "$scratch/suid-host" ]; then
  if has suid-run "^euid 0$"; then
    check "a plain host opens VOSTRELLE_DEVICE" has plain-run " -> $scratch/chosen$"
    check "a set-user-ID host ignores it" lacks suid-run " -> $scratch/chosen$"
  else
    echo "skipped the set-user-ID host: this file system ignores set-user-ID"
  fi
fi
summary
