# A hostile client of vostrelle-panel, for panel_hostile_test.sh: raw requests,
# an endless chunked body, and many connections that hammer it with 403s.
# Usage: hostile_client.py send HOST PORT < REQUEST     (prints what came within 2 s)
#        hostile_client.py chunked HOST PORT PID MIB    (prints the panel's growth in KiB)
#        hostile_client.py hammer HOST PORT SECONDS     (80 connections, for SECONDS)
import asyncio
import socket
import sys
import time


def send(host, port):
    deadline = time.monotonic() + 2
    answer = b""
    with socket.create_connection((host, port), timeout=2) as s:
        s.sendall(sys.stdin.buffer.read())
        try:
            while time.monotonic() < deadline and (chunk := s.recv(65536)):
                answer += chunk
        except (socket.timeout, ConnectionResetError):
            pass
    sys.stdout.buffer.write(answer)


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise SystemExit(f"no VmHWM for {pid}")


def chunked(host, port, pid, mib):
    """A chunk-size line that never ends: what the panel keeps of it."""
    before = peak_kib(pid)
    head = f"POST /pwm HTTP/1.1\r\nHost: {host}:{port}\r\nTransfer-Encoding: chunked\r\n\r\n"
    line = b"1" * (1 << 20)
    with socket.create_connection((host, port), timeout=10) as s:
        s.sendall(head.encode())
        try:
            for _ in range(mib):
                s.sendall(line)
        except OSError:
            pass  # refused and closed: the rest goes nowhere
    time.sleep(0.2)
    print(peak_kib(pid) - before)


async def attack(host, port, request, stop):
    """Sends `request` and holds the connection as long as the panel lets it; then again."""
    while not stop.is_set():
        try:
            reader, writer = await asyncio.open_connection(host, port)
            writer.write(request)
            while await reader.read(65536):
                pass
            writer.close()
        except OSError:
            await asyncio.sleep(0.01)


async def hammer(host, port, seconds):
    """80 connections: half ask without the cookie (403) and start another request, half never
    finish their first one."""
    refused = f"GET / HTTP/1.1\r\nHost: {host}:{port}\r\n\r\n".encode()
    unfinished = f"GET / HTTP/1.1\r\nHost: {host}:{port}\r\n".encode()
    stop = asyncio.Event()
    requests = [refused + unfinished, unfinished] * 40
    attackers = [asyncio.create_task(attack(host, port, request, stop)) for request in requests]
    await asyncio.sleep(seconds)
    stop.set()
    for attacker in attackers:
        attacker.cancel()
    await asyncio.gather(*attackers, return_exceptions=True)


if __name__ == "__main__":
    command, host, port, *rest = sys.argv[1:]
    if command == "send":
        send(host, int(port))
    elif command == "chunked":
        chunked(host, int(port), int(rest[0]), int(rest[1]))
    else:
        asyncio.run(hammer(host, int(port), float(rest[0])))
