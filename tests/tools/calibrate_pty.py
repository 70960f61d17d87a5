# Answers vostrelle-probe calibrate's two prompts through a pseudo-terminal,
# the second once a line shows in a log (the simulated board's input moved).
# Usage: calibrate_pty.py FIRST SECOND LOG TEXT PROGRAM ARGS...; prints what
# the program showed and exits with its status.
import os
import pty
import sys
import time

first, second, log, text, *command = sys.argv[1:]
pid, terminal = pty.fork()
if pid == 0:
    os.execvp(command[0], command)

shown = b""


def read_until(pattern, seconds=30):
    global shown
    deadline = time.monotonic() + seconds
    while pattern not in shown and time.monotonic() < deadline:
        try:
            shown += os.read(terminal, 4096)
        except OSError:
            break
    return pattern in shown


def log_has(text, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with open(log) as f:
            if text in f.read():
                return True
        time.sleep(0.05)
    return False


if read_until(b"first known value, type it and press Enter: "):
    os.write(terminal, first.encode() + b"\n")
    if read_until(b"second known value, type it and press Enter: ") and log_has(text):
        os.write(terminal, second.encode() + b"\n")
read_until(b"\0", 10)  # to the end of its output
sys.stdout.write(shown.decode(errors="replace"))
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
