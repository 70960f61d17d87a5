"""A board that is unplugged, plugged back, never comes back or stops answering."""

import concurrent.futures
import resource
import threading
import time

import matplotlib
import numpy
import pytest

import vostrelle


def cpu_seconds() -> float:
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def test_a_recording_follows_the_board_out_and_back(plug_in, tmp_path):
    link, trace = str(tmp_path / "board"), tmp_path / "trace"
    plug_in(link, "--input=0=100", "--seconds=3")  # unplugged about 0.8 s into the recording
    with vostrelle.Board(link) as board:
        board.pwm = 128
        board.lines[3] = True
        threading.Timer(1.8, plug_in, (link, "--input=0=900", "--trace"), {"trace": trace}).start()
        began = time.monotonic()
        recording = board.record(channels=[0], interval=0.05, duration=5, volts=False)
        assert time.monotonic() - began < 5.5
        assert len(recording) + recording.missed == 100 and repr(recording).endswith((" gap>", " gaps>"))
        # A busy machine may leave the board's replies late for a moment: a short silent gap.
        [(start, end)] = [(start, end) for start, end in recording.gaps if end - start > 1]
        # Back after the replug and the driver's two seconds (less a slot or two when a busy machine
        # left the first replies late: times count from the first row).
        assert 0.5 < start < 1.5 and 1.8 + 2 - 0.15 < end < 5
        assert recording.missed >= (end - start) / 0.05 - 1
        assert not any(start < t < end for t in recording.times)  # no row stands for the gap
        before, after = recording[0][recording.times <= start], recording[0][recording.times >= end]
        assert (before == 100).mean() >= 0.9 and (after == 900).mean() >= 0.9
        matplotlib.use("Agg")
        breaks = numpy.isnan(recording.plot().lines[0].get_ydata()).sum()
        assert breaks == len(recording.gaps)  # the curve breaks at each gap
        assert board.inputs[0].count() == 900
        # Not set again: the reset board has its outputs at rest, and the Board says so.
        assert board.pwm is None and not board.lines[3]
        assert "PWM" not in trace.read_text() and "PB3" not in trace.read_text()


def test_outputs_are_set_again_when_asked_and_readings_wait_for_the_board(plug_in, tmp_path):
    link, trace = str(tmp_path / "board"), tmp_path / "trace"
    first = plug_in(link, "--input=0=100")
    with vostrelle.Board(link, restore_outputs=True) as board:
        board.pwm = 77
        board.lines[3] = True
        assert board.wait_for_board(timeout=0)  # there already
        first.terminate()
        first.wait()
        with pytest.raises(vostrelle.BoardGone, match=f"the board at {link} has gone"):
            board.inputs[0].count()
        with pytest.raises(vostrelle.BoardGone):
            board.frequency = 1000
        assert not board.wait_for_board(timeout=0.3)
        plug_in(link, "--input=0=900", "--trace", trace=trace)
        assert board.wait_for_board(timeout=10)
        assert board.inputs[0].count() == 900
        assert board.pwm == 77 and board.lines[3] and board.frequency is None
        lines = trace.read_text().splitlines()
        assert "PWM duty 77" in lines[0] and "PB3 high" in lines[1]  # before anything else


def test_a_board_gone_for_good_or_silent_costs_no_cpu_and_ends_on_time(plug_in, tmp_path):
    gone_link, silent_link = str(tmp_path / "gone"), str(tmp_path / "silent")
    plug_in(gone_link, "--seconds=2.5")  # unplugged while the other board loads
    plug_in(silent_link, "--mode=silent")
    gone = vostrelle.Board(gone_link)
    silent = vostrelle.Board(silent_link)
    with pytest.raises(vostrelle.BoardSilent, match=f"the board at {silent_link} does not answer"):
        silent.inputs[0].volts()
    with pytest.raises(vostrelle.BoardGone, match=f"the board at {gone_link} has gone"):
        gone.inputs[0].volts()
    cpu, began = cpu_seconds(), time.monotonic()
    with concurrent.futures.ThreadPoolExecutor() as pool:
        recordings = list(pool.map(lambda board: board.record(channels=[0, 1], interval=0.01, duration=3),
                                   (gone, silent)))
    took = time.monotonic() - began
    assert cpu_seconds() - cpu < 0.02 * took  # both boards together
    assert 3 <= took < 3.5
    for recording in recordings:
        assert len(recording) == 0 and recording.missed == 300
        [(start, end)] = recording.gaps
        assert start == 0 and 2.9 < end < 3.5
    gone.close()
    silent.close()
