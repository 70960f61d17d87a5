"""Two boards from the Python package: a scan of eight inputs on one board
against the same scan on two boards at once (each on its own thread), the
cost of loading one more driver instance beyond the board's two-second
start-up, and a name call through each instance.
Run with VOSTRELLE_LIBRARY and VOSTRELLE_SIM set. Prints Markdown table rows."""

import argparse
import os
import statistics
import subprocess
import threading
import time

import vostrelle
from vostrelle import _library

NAME_CALLS = 100_000

arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("--scans", type=int, default=500)
options = arguments.parse_args()


def scan(board) -> None:
    try:
        board._scan("cead", range(8))
    except vostrelle.BoardSilent:  # replies late on a loaded machine: the figures say so
        board.wait_for_board(timeout=5)


def scan_ms(boards) -> list[float]:
    """Milliseconds from the start of each scan to the end of the last board's."""
    took = []
    for _ in range(options.scans):
        threads = [threading.Thread(target=scan, args=(board,)) for board in boards]
        began = time.perf_counter()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        took.append((time.perf_counter() - began) * 1000)
    return sorted(took)


def name_call_ns(board) -> float:
    name = board._driver.functions.cnea
    began = time.perf_counter_ns()
    for _ in range(NAME_CALLS):
        name(0)
    return (time.perf_counter_ns() - began) / NAME_CALLS


def load_seconds_over_start_up(device: str) -> float:
    driver = _library.Driver(None)
    began = time.perf_counter()
    driver.load(device)
    took = time.perf_counter() - began - _library.LOAD_SECONDS
    driver.unload()
    return took


def main() -> None:
    command = [os.environ["VOSTRELLE_SIM"], "--print-device", "--wave"]
    simulators = [subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                  for _ in range(3)]
    devices = [simulator.stdout.readline().strip() for simulator in simulators]
    first, second = vostrelle.Board(devices[0]), vostrelle.Board(devices[1])
    print("| boards | scans | p50 | p99 |")
    print("|---|---:|---:|---:|")
    for boards in ([first], [first, second]):
        took = scan_ms(boards)
        p50, p99 = statistics.median(took), took[int(len(took) * 0.99)]
        print(f"| {len(boards)} | {len(took)} | {p50:.2f} ms | {p99:.2f} ms |")
    print()
    loads = [load_seconds_over_start_up(devices[2]) * 1000 for _ in range(5)]
    print(f"One more driver instance: {statistics.median(loads):.2f} ms beyond the two-second start-up "
          "(median of 5).")
    print(f"Name call (cnea) through each instance: {name_call_ns(first):.0f} ns "
          f"and {name_call_ns(second):.0f} ns.")
    for simulator in simulators:
        simulator.terminate()


main()
