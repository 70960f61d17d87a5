"""The Python package measured: Board.record of all eight inputs in counts
on a fixed schedule, and a name call beside the same call from C.
Run under vostrelle-sim --run with VOSTRELLE_LIBRARY set (bench/recording.sh
does). Prints Markdown table rows."""

import argparse
import statistics
import time

import vostrelle

NAME_CALLS = 200_000

arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("--seconds", type=float, default=60)
arguments.add_argument("--rate", type=float, default=100)
arguments.add_argument("--c-name-call-ns", type=float, required=True, help="cnea from C, nanoseconds per call")
options = arguments.parse_args()


def per_call_ns(call) -> float:
    start = time.perf_counter_ns()
    for _ in range(NAME_CALLS):
        call()
    return (time.perf_counter_ns() - start) / NAME_CALLS


board = vostrelle.Board()
recording = board.record(interval=1 / options.rate, duration=options.seconds, volts=False)
late_ms = sorted(seconds * 1000 for seconds in recording.lateness)
p99 = late_ms[max(0, int(len(late_ms) * 0.99) - 1)]
print(f"| Python Board.record | {len(recording)} | {recording.missed} | {statistics.median(late_ms):.3f} ms "
      f"| {p99:.3f} ms | {late_ms[-1]:.3f} ms | {recording.lateness[-1] * 1000:.3f} ms |")

first_input = board.inputs[0]
raw_cnea = board._driver.functions.cnea
package_ns = per_call_ns(lambda: first_input.name)
ctypes_ns = per_call_ns(lambda: raw_cnea(0))
print()
print("| name call | ns per call | over C |")
print("|---|---:|---:|")
print(f"| C: cnea(0) | {options.c_name_call_ns:.1f} | |")
print(f"| Python, ctypes alone: cnea(0) | {ctypes_ns:.0f} | {(ctypes_ns - options.c_name_call_ns) / 1000:.2f} us |")
print(f"| Python package: board.inputs[0].name | {package_ns:.0f} | "
      f"{(package_ns - options.c_name_call_ns) / 1000:.2f} us |")
