"""Several boards in one process, and channels in the units of their sensors."""

import os
import subprocess
import threading
import time

import matplotlib
import numpy
import pytest

import vostrelle


def simulate(*options):
    return subprocess.Popen([os.environ["VOSTRELLE_SIM"], *options], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)


def plug_in(link, processes):
    """A board at input 0 = 900 reached through `link`."""
    processes.append(simulate(f"--link={link}", "--input=0=900"))
    while not os.path.exists(link) and processes[-1].poll() is None:
        time.sleep(0.02)


@pytest.fixture(scope="module")
def simulators(tmp_path_factory):
    """The simulators' processes, stopped at the end; the first serves a
    terminal at input 0 = 100, the others the second board's link."""
    processes = [simulate("--print-device", "--input=0=100")]
    yield processes
    for process in processes:
        process.terminate()
        process.wait()


@pytest.fixture(scope="module")
def two_boards(simulators, tmp_path_factory):
    """Two simulated boards, inputs 0 at counts 100 and 900; the first has a
    channel file that reports its input 0 as a temperature (10 mV/°C)."""
    device, link = simulators[0].stdout.readline().strip(), str(tmp_path_factory.mktemp("link") / "board")
    plug_in(link, simulators)
    channels = tmp_path_factory.mktemp("channels") / "channels.toml"
    channels.write_text(f'[[board]]\ndevice = "{device}"\n[board.input.0]\nname = "bath temperature"\n'
                        'unit = "°C"\ndecimals = 1\ngain = 100.0\nlimits = [10.0, 40.0]\n')
    with vostrelle.Board(device, channels_file=channels) as first, vostrelle.Board(link) as second:
        yield first, second


def count(board):
    """Input 0's count, or None when a busy machine left the board's replies late for a quarter second."""
    try:
        return board.inputs[0].count()
    except vostrelle.BoardSilent:
        return None


def test_readings_never_come_from_the_other_board(two_boards):
    first, second = two_boards
    readings = [(count(first), count(second)) for _ in range(5000)]
    assert not any(a == 900 or b == 100 for a, b in readings)
    # A late reply on a busy machine costs that reading (a count of 255, or none).
    assert sum(a == 100 and b == 900 for a, b in readings) >= 0.5 * len(readings)


def present(column):
    return column[~numpy.isnan(column)]


def test_two_boards_record_together_in_the_time_of_one(two_boards):
    first, second = two_boards
    assert first.wait_for_board(timeout=5) and second.wait_for_board(timeout=5)
    recording = vostrelle.record([first, second], interval=0.025, count=40)
    # A scan of eight inputs in volts takes 17.6 ms: one board after the other would start the second
    # that late at every slot. A busy machine wakes some scans late, not most.
    for lateness in recording.lateness_by_board.values():
        assert len(lateness) >= 20 and numpy.median(lateness) < 0.008
    assert recording.names[0] == f"{first.device} bath temperature (°C)"
    assert recording.names[8] == f"{second.device} EA0(PA0)0..5V" and recording.units[8] == "V"
    temperatures, volts = present(recording[first, 0]), present(recording[second.device, 0])
    assert not numpy.isclose(temperatures, 900 * 500 / 1023).any() and not (volts == 100 * 5 / 1023).any()
    assert numpy.isclose(temperatures, 100 * 500 / 1023).sum() >= 10 and (volts == 900 * 5 / 1023).sum() >= 10
    with pytest.raises(KeyError, match="several boards have it"):
        recording[0]
    matplotlib.use("Agg")
    left = recording.plot()
    assert (left.get_ylabel(), left.figure.axes[1].get_ylabel()) == ("°C", "volts")
    limits = [line.get_ydata()[0] for line in left.lines if line.get_linestyle() == "--"]
    assert limits == [10.0, 40.0]


def test_one_board_unplugged_and_back_while_the_other_records_every_slot(two_boards, simulators):
    first, second = two_boards
    threading.Timer(0.6, simulators[-1].terminate).start()
    threading.Timer(0.9, plug_in, (second.device, simulators)).start()
    recording = vostrelle.record([first, second], channels=[0], interval=0.05, count=80, volts=False)
    [(start, end)] = recording.gaps_by_board[second.device]
    assert 0.5 < start < 1.2 and 2.9 < end < 3.9  # back after the replug and the driver's two seconds
    # The other board's two-second reload does not hold this one up; a busy machine may leave some
    # of its replies late.
    kept = recording.times[~numpy.isnan(recording[first, 0])]
    assert len(kept) >= 40 and numpy.diff(kept).max() < 0.5
    during = (recording.times > start + 0.05) & (recording.times < end - 0.05)
    assert numpy.isnan(recording[second, 0][during]).all()
    assert not (recording[first, 0] == 900).any() and not (recording[second, 0] == 100).any()
    assert (recording[first, 0][during] == 100).sum() >= 10
    assert (recording[second, 0][recording.times > end] == 900).sum() >= 5


def test_a_device_open_already_is_refused_by_any_name(two_boards, tmp_path):
    first, _ = two_boards
    link = tmp_path / "board"
    link.symlink_to(first.device)
    for name in (first.device, str(link)):
        with pytest.raises(vostrelle.BoardInUse, match=f"the board at {name} is open already"):
            vostrelle.Board(name)


def test_a_port_says_what_it_is_and_who_holds_it(two_boards):
    _, second = two_boards
    port = vostrelle._ports.describe(second.device)
    assert port.usb is None and port.serial is None and port.mode.startswith("c") and port.can_open
    assert "vostrelle-sim" in [program for _, program in port.held_by]  # this process is not listed
    assert all(isinstance(found, vostrelle.Port) for found in vostrelle.boards())


def test_inputs_report_in_the_channel_files_units(two_boards):
    first, second = two_boards
    temperature = first.inputs[0]
    assert (temperature.label, temperature.unit) == ("bath temperature", "°C")
    assert (temperature.limits, second.inputs[0].limits) == ((10.0, 40.0), None)
    assert abs(temperature.value() - 100 * temperature.volts()) < 1e-9
    assert (second.inputs[0].label, second.inputs[0].unit) == ("EA0(PA0)0..5V", "V")
    assert second.inputs[0].value() == second.inputs[0].volts()
