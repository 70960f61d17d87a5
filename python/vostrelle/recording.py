"""Recording inputs on an absolute schedule, and what a recording holds."""

import csv
import math
import time

from . import _library
from ._device import BoardGone

# What one conversion costs on a healthy board, in seconds: the settle
# delay, the exchange and the wake-up. A scan cannot be shorter. The tools
# hold the same costs in tools/common/board.h: change both together.
CONVERSION_SECONDS = {"counts": 0.0011, "volts": 0.0022}


def _numpy():
    try:
        import numpy
    except ImportError:
        return None
    return numpy


class Recording:
    """Rows taken on a schedule.

    times: seconds of each scan's start from the first scan's.
    channels: the input numbers recorded; names: the driver's names of them.
    recording[k] (or columns[i]): the readings of input k, one per time.
    These are numpy arrays when numpy is installed, else lists.
    missed: scheduled scans skipped because they could not start in their
    slot. lateness: seconds each scan started after its slot. interval: the schedule's period in seconds. interrupted: True when
    Ctrl-C ended the recording early. gaps: (start, end) in seconds of each
    time the board was gone or silent; their slots are in missed, and no row
    stands for them.
    """

    def __init__(self, channels, names, volts: bool, interval: float):
        self.channels = tuple(channels)
        self.names = tuple(names)
        self.volts = volts
        self.interval = interval
        self.times = []
        self.columns = [[] for _ in self.channels]
        self.lateness = []  # seconds each scan started after its slot
        self.missed = 0
        self.interrupted = False
        self.gaps = []
        self._origin = None  # when the first slot began: second 0 of times and gaps
        self._gone_since = None
        self._quiet_since = None  # when scans began to go unanswered

    def _seconds(self, moment: float) -> float:
        self._origin = moment if self._origin is None else self._origin
        return moment - self._origin

    def _unanswered(self, moment: float) -> None:
        self.missed += 1
        self._quiet_since = moment if self._quiet_since is None else self._quiet_since

    def _gone(self, moment: float) -> None:
        if self._gone_since is None:
            self._gone_since = self._seconds(moment if self._quiet_since is None else self._quiet_since)

    def _close_gap(self, moment: float) -> None:
        if self._gone_since is not None:
            self.gaps.append((self._gone_since, self._seconds(moment)))
            self._gone_since = None

    def _add_row(self, moment: float, values, lateness: float) -> None:
        self._close_gap(moment)
        self._quiet_since = None
        self.times.append(self._seconds(moment))
        for column, value in zip(self.columns, values):
            column.append(value)
        self.lateness.append(lateness)

    def _finish(self) -> None:
        self._close_gap(time.monotonic())
        numpy = _numpy()
        if numpy is not None:
            self.times = numpy.asarray(self.times, dtype=float)
            self.columns = [numpy.asarray(column, dtype=float if self.volts else int) for column in self.columns]

    def __getitem__(self, channel: int):
        try:
            return self.columns[self.channels.index(channel)]
        except ValueError:
            raise KeyError(f"input {channel} is not in this recording (it has {list(self.channels)})") from None

    def __len__(self) -> int:
        return len(self.times)

    def __repr__(self) -> str:
        return (
            f"<vostrelle.Recording {len(self)} scans of inputs {list(self.channels)} every "
            f"{self.interval * 1000:g} ms, {self.missed} missed{self._gaps_text()}>"
        )

    def _gaps_text(self) -> str:
        if not self.gaps:
            return ""
        return f", {len(self.gaps)} gap" + ("s" if len(self.gaps) > 1 else "")

    def to_csv(self, path) -> None:
        """Write the rows as CSV: seconds, then one column per channel, with
        the driver's channel names in the header."""
        with open(path, "w", newline="") as file:
            writer = csv.writer(file, lineterminator="\n")
            writer.writerow(["seconds", *self.names])
            for row, time_s in enumerate(self.times):
                values = [column[row] for column in self.columns]
                writer.writerow([f"{time_s:.6f}", *(f"{v:.6f}" if self.volts else int(v) for v in values)])

    def plot(self, axes=None):
        """Draw every channel against time with matplotlib and return the
        axes; pass `axes` to draw into your own figure."""
        if axes is None:
            from matplotlib import pyplot

            axes = pyplot.figure(figsize=(9, 5)).add_subplot()
        times, columns = self._broken_at_gaps()
        for name, column in zip(self.names, columns):
            axes.plot(times, column, label=name)
        axes.set_xlabel("seconds")
        axes.set_ylabel("volts" if self.volts else "count")
        axes.grid(True, alpha=0.3)
        axes.legend()
        return axes

    def _broken_at_gaps(self):
        """times and columns with a NaN row where each gap ends: a plotted
        line stops at a gap instead of crossing it."""
        import numpy

        at = numpy.searchsorted(self.times, [end for _, end in self.gaps])
        times = numpy.insert(numpy.asarray(self.times, dtype=float), at, numpy.nan)
        columns = [numpy.insert(numpy.asarray(column, dtype=float), at, numpy.nan) for column in self.columns]
        return times, columns


def shortest_interval(channels: int, volts: bool) -> float:
    """The shortest interval in seconds a scan of `channels` inputs keeps."""
    return channels * CONVERSION_SECONDS["volts" if volts else "counts"]


def _scheduled_scans(interval: float, duration: float | None, count: int | None) -> int | None:
    if duration is not None and count is not None:
        raise ValueError("give duration or count, not both")
    if count is not None:
        if count < 1:
            raise ValueError(f"count must be at least 1, not {count}")
        return count
    if duration is not None:
        if duration <= 0:
            raise ValueError(f"duration must be positive, not {duration}")
        return math.ceil(duration / interval - 1e-9)
    return None


def _check_scan(channels, interval: float, volts: bool) -> None:
    if not channels or len(set(channels)) != len(channels):
        raise ValueError("name each channel once, and at least one")
    shortest = shortest_interval(len(channels), volts)
    if not interval >= shortest:
        raise ValueError(
            f"a scan of {len(channels)} inputs in {'volts' if volts else 'counts'} takes about "
            f"{shortest * 1000:.1f} ms; the shortest interval is {shortest:.4f} s"
        )


def _skip_over(recording: Recording, slot: int, began: float, due: float, interval: float, scans) -> int:
    """The slot we are in, when slot `slot` (due at `due`) is over: the ones
    in between are skipped and counted."""
    behind = int((began - due) // interval)
    skipped = behind if scans is None else min(behind, scans - slot)
    recording.missed += skipped
    return slot + skipped


def _scan_on_schedule(recording: Recording, scan, follow, interval: float, scans: int | None) -> None:
    """Call `scan()` at slot k's start, start + k * interval, for each slot;
    a slot found over is skipped and counted, never shifted. When scan()
    finds the board gone, follow(end) waits for it, at most until the end."""
    start = time.monotonic()
    end = None if scans is None else start + scans * interval
    slot = 0
    while scans is None or slot < scans:
        due = start + slot * interval
        if (wait := due - time.monotonic()) > 0:
            time.sleep(wait)
        began = time.monotonic()
        if began >= due + interval:  # this slot is over: on to the one we are in
            slot = _skip_over(recording, slot, began, due, interval, scans)
            continue
        try:
            values = scan()
        except BoardGone:
            recording._gone(began)
            follow(end)
            continue
        if values is None:
            recording._unanswered(began)
        else:
            recording._add_row(began, values, began - due)
        slot += 1


def record(board, channels, interval, duration, count, volts) -> Recording:
    """Board.record's schedule (see there)."""
    _check_scan(channels, interval, volts)
    scans = _scheduled_scans(interval, duration, count)
    read, name_of = ("cead", "cnead") if volts else ("cea", "cnea")
    names = [board._call(name_of, channel).decode("iso-8859-1") for channel in channels]
    recording = Recording(channels, names, volts, interval)

    def follow(end):  # a load of the driver that cannot end before the recording does is not started
        return board._follow(end, None if end is None else end - _library.LOAD_SECONDS)

    try:
        _scan_on_schedule(recording, lambda: board._scan(read, channels), follow, interval, scans)
    except KeyboardInterrupt:
        recording.interrupted = True
    recording._finish()
    return recording
