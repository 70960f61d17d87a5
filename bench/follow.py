"""vostrelle-probe record when the board goes and comes back, measured: the
time from a simulated board's return at the link to the first reading of it,
and the recorder's CPU while the board is gone and while it is silent.
bench/follow.sh builds the programs and runs this. Prints Markdown rows."""

import argparse
import os
import statistics
import subprocess
import tempfile
import threading
import time

LOAD_SECONDS = 2.0  # the driver's start-up sleep
WATCH_SECONDS = 4.0  # CPU measured over this while there is no board to read

arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("--tools", required=True, help="the directory of vostrelle-probe and vostrelle-sim")
arguments.add_argument("--cycles", type=int, default=5)
options = arguments.parse_args()
probe = os.path.join(options.tools, "vostrelle-probe")
sim = os.path.join(options.tools, "vostrelle-sim")
scratch = tempfile.mkdtemp()


def board(link: str, *extra: str) -> subprocess.Popen:
    started = subprocess.Popen([sim, "--link", link, *extra],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.lexists(link):
        time.sleep(0.0005)
    return started


class Recorder:
    """record on one input every 10 ms, each row and message stamped as it comes."""

    def __init__(self, link: str):
        self.rows: list[tuple[float, str]] = []
        self.messages: list[tuple[float, str]] = []
        self.process = subprocess.Popen(
            [probe, "record", "--channels", "0", "--counts", "--interval", "10", "--output", "-"],
            env={**os.environ, "VOSTRELLE_DEVICE": link},
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for stream, kept in ((self.process.stdout, self.rows), (self.process.stderr, self.messages)):
            threading.Thread(target=self.stamp, args=(stream, kept), daemon=True).start()

    @staticmethod
    def stamp(stream, kept):
        for line in stream:
            kept.append((time.monotonic(), line.strip()))

    def wait_for(self, kept, wanted, after: float) -> float:
        while True:
            for stamped, line in list(kept):
                if stamped >= after and wanted(line):
                    return stamped
            time.sleep(0.001)

    def cpu_seconds(self) -> float:
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def cpu_share(self, seconds: float) -> float:
        before = self.cpu_seconds()
        time.sleep(seconds)
        return (self.cpu_seconds() - before) / seconds * 100

    def stop(self):
        self.process.terminate()
        self.process.wait()


def reading_of(count: int):
    return lambda line: line.endswith("," + str(count))


link = os.path.join(scratch, "board")
silent_link = os.path.join(scratch, "silent")
silent_board = board(silent_link, "--mode", "silent")
silent = Recorder(silent_link)
current = board(link, "--input", "0=100")
recorder = Recorder(link)
recorder.wait_for(recorder.rows, reading_of(100), 0)
returns, gone_cpu = [], []
for cycle in range(options.cycles):
    time.sleep(0.5)
    current.terminate()
    current.wait()
    recorder.wait_for(recorder.messages, lambda line: "board gone" in line, 0)
    gone_cpu.append(recorder.cpu_share(WATCH_SECONDS))
    value = 700 if cycle % 2 == 0 else 100
    current = board(link, "--input", f"0={value}")
    back = time.monotonic()
    returns.append(recorder.wait_for(recorder.rows, reading_of(value), back) - back)
silent_cpu = silent.cpu_share(WATCH_SECONDS)
for ending in (recorder, silent):
    ending.stop()
for ending in (current, silent_board):
    ending.terminate()
    ending.wait()

print(f"| board back at its link to the first reading of it ({options.cycles} times: median, max) "
      f"| {statistics.median(returns):.3f} s, {max(returns):.3f} s "
      f"| ≤ {LOAD_SECONDS + 0.5:.1f} s (the load's {LOAD_SECONDS:.0f} s + 0.5 s) |")
beyond = [seconds - LOAD_SECONDS for seconds in returns]
print(f"| the same beyond the driver's {LOAD_SECONDS:.0f} s load (median, max) "
      f"| {statistics.median(beyond):.3f} s, {max(beyond):.3f} s | ≤ 0.5 s |")
print(f"| record's CPU with the board gone ({WATCH_SECONDS:.0f} s, {options.cycles} times: median, max) "
      f"| {statistics.median(gone_cpu):.2f} %, {max(gone_cpu):.2f} % of a core | ≤ 2 % |")
print(f"| record's CPU with a silent board ({WATCH_SECONDS:.0f} s) "
      f"| {silent_cpu:.2f} % of a core | ≤ 2 % |")
