#!/usr/bin/python3
"""The same exchange as the driver's `ea`, the way a user would script it
with pyserial: write the letter, sleep the settle delay, read two bytes with
a timeout. Usage: peer.py PORT COUNT OUT-FILE (one latency in ms per line)."""
import sys
import time

import serial

port, count, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
line = serial.Serial(port, 38400, timeout=0.002)
latencies = []
answered = 0
for _ in range(count):
    start = time.perf_counter()
    line.reset_input_buffer()
    line.write(b"L")
    time.sleep(0.001)
    reply = line.read(2)
    latencies.append((time.perf_counter() - start) * 1000.0)
    answered += len(reply) == 2
line.close()
with open(out, "w") as f:
    f.write("\n".join(f"{ms:.6f}" for ms in latencies) + "\n")
print(f"peer: {answered} of {count} exchanges answered")
