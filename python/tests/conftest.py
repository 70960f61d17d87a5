"""A simulated board for the package's tests: $VOSTRELLE_SIM serves it, the
driver at $VOSTRELLE_LIBRARY is loaded once for the whole session."""

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
