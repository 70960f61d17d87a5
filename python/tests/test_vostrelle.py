"""What a user of the vostrelle package sees, against the simulated board."""

import csv
import os
import pathlib
import signal
import subprocess
import sys
import time

import pytest

import vostrelle

EXAMPLES = pathlib.Path(__file__).parent.parent / "examples"


def reads(read, expected, attempts=3):
    """Whether read() gives expected within a few attempts: on a busy machine
    the simulated board's reply now and then comes after the driver's
    deadline, and that one reading is wrong."""
    return any(read() == expected for _ in range(attempts))


def test_texts_names_and_readings(board):
    assert board.title == "Vostrelle"
    assert board.detail == "Pilote pour Vostrelle, par Quenardel, 2 février 2015"
    assert [channel.name for channel in board.inputs][:2] == ["EA0(PA0)0..1023", "EA1(PA1)0..1023"]
    assert board.inputs[7].volts_name == "EA7(PA7)0..5V"
    assert reads(board.inputs[0].count, 654)
    assert reads(board.inputs[0].volts, 654 * 5 / 1023)
    assert reads(board.inputs[5].volts, 5.0)


def wait_for_trace(trace, text):
    for _ in range(100):
        if text in trace.read_text():
            return True
        time.sleep(0.05)
    return False


def test_outputs_reach_the_board_and_lines_read_back(board, simulator):
    _, trace = simulator
    board.led = True
    board.lines[3] = True
    board.pwm = 128
    board.frequency = 1000
    assert board.led and board.lines[3] and not board.lines[4]
    assert (board.pwm, board.frequency) == (128, 1000)
    for command in ("PB0 high", "PB3 high", "PWM duty 128"):
        assert wait_for_trace(trace, command), command
    board.lines[3] = False
    assert not board.lines[3]
    assert wait_for_trace(trace, "PB3 low")  # the last command: every one before is through


def test_bad_channels_and_values_are_refused_before_the_board(board, simulator):
    _, trace = simulator
    before = trace.read_text()
    with pytest.raises(IndexError, match="input 8 does not exist: the board has inputs 0..7"):
        board.inputs[8]
    with pytest.raises(IndexError, match="line -1 does not exist"):
        board.lines[-1] = True
    with pytest.raises(ValueError, match="pwm takes 0..255, not 256"):
        board.pwm = 256
    with pytest.raises(ValueError, match="frequency takes 0..65535, not -1"):
        board.frequency = -1
    with pytest.raises(ValueError, match="a switch is True or False"):
        board.lines[2] = "on"
    with pytest.raises(TypeError):
        board.pwm = 12.5
    with pytest.raises(ValueError, match="shortest interval is 0.0176 s"):
        board.record(interval=0.01)
    assert trace.read_text() == before


def test_record_keeps_the_schedule_and_saves_csv_and_plot(board, tmp_path):
    recording = board.record(channels=[0, 5], interval=0.02, count=30)
    assert len(recording) + recording.missed == 30
    slots = recording.times / 0.02
    # No drift through the slots: a scan starts just after its slot; a busy
    # machine may wake one late now and then, a drifting schedule most.
    assert (abs(slots - slots.round()) < 0.25).mean() >= 0.9
    assert (recording[0] == 654 * 5 / 1023).mean() >= 0.9  # a busy machine may misread one
    assert recording.names == ("EA0(PA0)0..5V", "EA5(PA5)0..5V")

    recording.to_csv(tmp_path / "run.csv")
    with open(tmp_path / "run.csv", newline="") as file:
        rows = list(csv.reader(file))
    assert rows[0] == ["seconds", "EA0(PA0)0..5V", "EA5(PA5)0..5V"]
    assert len(rows) == len(recording) + 1 and rows[-1][2] == f"{recording[5][-1]:.6f}"

    import matplotlib

    matplotlib.use("Agg")
    recording.plot().figure.savefig(tmp_path / "run.png")
    assert (tmp_path / "run.png").read_bytes()[1:4] == b"PNG"


def test_record_without_numpy_gives_lists(board, monkeypatch):
    monkeypatch.setitem(sys.modules, "numpy", None)
    recording = board.record(channels=[0], interval=0.01, count=3, volts=False)
    assert isinstance(recording.times, list) and recording[0].count(654) >= len(recording) - 1


def test_a_library_that_cannot_load_says_which_file_and_why(monkeypatch, tmp_path):
    monkeypatch.setenv("VOSTRELLE_LIBRARY", "/nonexistent/libvostrelle.so.1")
    monkeypatch.setenv("VOSTRELLE_DEVICE", str(tmp_path / "no-board"))  # the session's board holds the sim
    with pytest.raises(vostrelle.LibraryError, match="'/nonexistent/libvostrelle.so.1': .*No such file"):
        vostrelle.Board()
    foreign = tmp_path / "libvostrelle.so.1"  # an ELF header for another machine
    machine = 40 if vostrelle._library.this_architecture() != "armhf" else 62
    foreign.write_bytes(b"\x7fELF\x01\x01\x01" + bytes(11) + machine.to_bytes(2, "little") + bytes(40))
    with pytest.raises(vostrelle.LibraryError, match="built for (armhf|amd64), but this Python runs on"):
        vostrelle.Board(library=str(foreign))


def run_example(simulator_option, script, *arguments, cwd):
    command = [os.environ["VOSTRELLE_SIM"], simulator_option, "--run", "--", sys.executable, EXAMPLES / script]
    return subprocess.run([*command, *arguments], cwd=cwd, env=dict(os.environ, MPLBACKEND="Agg"),
                          capture_output=True, text=True, timeout=60)


def test_examples_run_against_the_simulator(tmp_path):
    read = run_example("--input=2=512", "read_inputs.py", cwd=tmp_path)
    assert read.returncode == 0, read.stderr
    assert "2  EA2(PA2)0..5V      512  2.502 V" in read.stdout

    capacitor = run_example("--wave", "capacitor.py", "--seconds", "0.5", cwd=tmp_path)
    assert capacitor.returncode == 0, capacitor.stderr
    assert (tmp_path / "capacitor.png").exists() and len((tmp_path / "capacitor.csv").read_text().splitlines()) > 40

    live = run_example("--wave", "live_plot.py", cwd=tmp_path)
    assert live.returncode == 0, live.stderr


def test_pip_installs_the_source_tree_without_network(tmp_path):
    subprocess.run([sys.executable, "-m", "venv", tmp_path / "venv"], check=True)
    pip = subprocess.run([tmp_path / "venv/bin/pip", "install", "--quiet", EXAMPLES.parent], capture_output=True,
                         text=True, timeout=120)
    assert pip.returncode == 0, pip.stderr
    outside_the_tree = {name: value for name, value in os.environ.items() if name != "PYTHONPATH"}
    where = subprocess.run([tmp_path / "venv/bin/python", "-c", "import vostrelle; print(vostrelle.__file__)"],
                           cwd=tmp_path, env=outside_the_tree, capture_output=True, text=True, check=True)
    assert where.stdout.startswith(str(tmp_path / "venv"))


def test_ctrl_c_ends_a_recording_and_keeps_its_rows(simulator):
    script = ("import vostrelle\nboard = vostrelle.Board()\nprint('ready', flush=True)\n"
              "rec = board.record(channels=[0], interval=0.02)\n"
              f"print(len(rec), rec.interrupted, sum(v == {654 * 5 / 1023!r} for v in rec[0]))\n")
    environment = dict(os.environ, VOSTRELLE_DEVICE=simulator[0])
    process = subprocess.Popen([sys.executable, "-c", script], env=environment, stdout=subprocess.PIPE, text=True)
    assert process.stdout.readline() == "ready\n"
    time.sleep(0.5)
    process.send_signal(signal.SIGINT)
    rows, interrupted, exact = process.communicate(timeout=10)[0].split()
    assert process.returncode == 0 and int(rows) > 5 and interrupted == "True"
    assert int(exact) >= 0.9 * int(rows)  # whole rows; a busy machine may misread one
