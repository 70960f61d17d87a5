"""Simulated boards for the package's tests: $VOSTRELLE_SIM serves them, with
the driver at $VOSTRELLE_LIBRARY. The session's board stays open throughout."""

import os
import subprocess
import time

import pytest

import vostrelle

FIXED_INPUTS = {0: 654, 5: 1023}


@pytest.fixture(scope="session")
def simulator(tmp_path_factory):
    """The simulator's device path and its trace file."""
    trace = tmp_path_factory.mktemp("sim") / "trace"
    inputs = [f"--input={k}={count}" for k, count in FIXED_INPUTS.items()]
    with open(trace, "w") as out:
        process = subprocess.Popen(
            [os.environ["VOSTRELLE_SIM"], "--trace", "--print-device", *inputs],
            stdout=out, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if trace.read_text().strip():
            break
        time.sleep(0.05)
    device = trace.read_text().splitlines()[0]
    yield device, trace
    process.terminate()
    process.wait()


@pytest.fixture(scope="session")
def board(simulator):
    os.environ["VOSTRELLE_DEVICE"] = simulator[0]
    with vostrelle.Board() as board:
        yield board


@pytest.fixture
def plug_in():
    """plug_in(link, *options, trace=None) starts a simulated board reached
    through `link` and returns its process; a board that stops is unplugged,
    and every one left is stopped at the end of the test."""
    processes = []

    def start(link, *options, trace=None):
        with open(trace or os.devnull, "w") as out:
            process = subprocess.Popen([os.environ["VOSTRELLE_SIM"], f"--link={link}", *options],
                                       stdout=out, stderr=subprocess.DEVNULL)
        processes.append(process)
        for _ in range(100):
            if os.path.exists(link) or process.poll() is not None:
                break
            time.sleep(0.02)
        return process

    yield start
    for process in processes:
        process.terminate()
        process.wait()
