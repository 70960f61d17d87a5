"""Recording inputs on an absolute schedule, and what a recording holds."""

import csv
import dataclasses
import math
import threading
import time

from . import _channels, _library
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
    """Rows taken on one schedule from one board or several.

    times: seconds of each scan's start from the first scan's.
    Each column is one input of one board: channels holds its input number,
    boards its board's device, units its unit ('V', the channel file's, or
    'count'), names its header (the channel's label, with the unit when the
    channel file gives one, after the board's device when there are several),
    limits its (low, high) from the channel file or None.
    recording[k] (or columns[i]): the readings of input k, one per time;
    recording[board, k] (a Board or its device) when several boards have
    input k. These are numpy arrays when numpy is installed, else lists; a
    board that gave no reading in a row's slot has NaN there (None in lists).
    missed: scheduled scans skipped because they could not start in their
    slot, summed over the boards; missed_by_board gives each board's.
    lateness: seconds each row's first scan started after its slot
    (lateness_by_board: each board's scans, in its rows' order). interval: the
    schedule's period in seconds. interrupted: True when Ctrl-C ended the
    recording early. gaps: (start, end) in seconds of each time a board was
    gone or silent (gaps_by_board: each board's); their slots are in missed.
    """

    def __init__(self, columns, volts: bool, interval: float):
        self.boards, self.channels, self.names, self.units, self._decimals, self.limits = (
            tuple(c) for c in zip(*columns))
        self.volts = volts
        self.interval = interval
        self.times = []
        self.columns = [[] for _ in self.channels]
        self.lateness = []  # seconds each scan started after its slot
        self.lateness_by_board = {}
        self.missed = 0
        self.missed_by_board = {}
        self.interrupted = False
        self.gaps = []
        self.gaps_by_board = {}

    def _fill(self, runs) -> None:
        """The rows of each board's run, one per slot any board answered in,
        and each board's missed slots and gaps, from the first event on."""
        origin = min((run.first_event() for run in runs if run.first_event() is not None), default=0.0)
        for slot in sorted(set().union(*(run.rows for run in runs))):
            began, lateness = min(run.rows[slot][:2] for run in runs if slot in run.rows)
            self.times.append(began - origin)
            self.lateness.append(lateness)
            cells = [v for run in runs for v in run.rows.get(slot, (0, 0, [None] * len(run.channels)))[2]]
            for column, value in zip(self.columns, cells):
                column.append(value)
        for run in runs:
            self.missed_by_board[run.board.device] = run.missed
            self.lateness_by_board[run.board.device] = [run.rows[slot][1] for slot in sorted(run.rows)]
            self.gaps_by_board[run.board.device] = [(start - origin, end - origin) for start, end in run.gaps]
        self.missed = sum(self.missed_by_board.values())
        self.gaps = sorted(gap for gaps in self.gaps_by_board.values() for gap in gaps)

    def _finish(self) -> None:
        numpy = _numpy()
        if numpy is not None:
            self.times = numpy.asarray(self.times, dtype=float)
            self.columns = [_array(numpy, column, self.volts) for column in self.columns]

    def __getitem__(self, key):
        board, channel = key if isinstance(key, tuple) else (None, key)
        device = getattr(board, "device", board)
        found = [i for i, (b, k) in enumerate(zip(self.boards, self.channels))
                 if k == channel and device in (None, b)]
        if len(found) != 1:
            what = "several boards have it: use recording[board, k]" if found else f"it has {self._keys()}"
            raise KeyError(f"input {channel} is not one column of this recording ({what})")
        return self.columns[found[0]]

    def _keys(self):
        return list(self.channels) if len(set(self.boards)) == 1 else list(zip(self.boards, self.channels))

    def __len__(self) -> int:
        return len(self.times)

    def __repr__(self) -> str:
        return (
            f"<vostrelle.Recording {len(self)} scans of inputs {self._keys()} every "
            f"{self.interval * 1000:g} ms, {self.missed} missed{self._gaps_text()}>"
        )

    def _gaps_text(self) -> str:
        if not self.gaps:
            return ""
        return f", {len(self.gaps)} gap" + ("s" if len(self.gaps) > 1 else "")

    def to_csv(self, path) -> None:
        """Write the rows as CSV: seconds, then one column per channel, with
        its name in the header. A board with no reading in a row leaves its
        cells empty."""
        with open(path, "w", newline="") as file:
            writer = csv.writer(file, lineterminator="\n")
            writer.writerow(["seconds", *self.names])
            for row, time_s in enumerate(self.times):
                cells = [_cell(column[row], places) for column, places in zip(self.columns, self._decimals)]
                writer.writerow([f"{time_s:.6f}", *cells])

    def plot(self, axes=None):
        """Draw every channel against time with matplotlib and return the
        axes; pass `axes` to draw into your own figure. The axis is labelled
        with the channels' unit; channels in other units get an axis on the
        right. A channel's limits are dashed lines in its colour."""
        if axes is None:
            from matplotlib import pyplot

            axes = pyplot.figure(figsize=(9, 5)).add_subplot()
        times, columns = self._broken_at_gaps()
        units = list(dict.fromkeys(self.units))
        right = axes.twinx() if len(units) > 1 else None
        curves = []
        for index, (name, column, unit) in enumerate(zip(self.names, columns, self.units)):
            target, colour = (axes if unit == units[0] else right), f"C{index % 10}"
            curves += target.plot(times, column, label=name, color=colour)
            for limit in self.limits[index] or ():
                target.axhline(limit, color=colour, linestyle="--", linewidth=0.8)
        axes.set_ylabel(_axis_name(units[:1]))
        if right is not None:
            right.set_ylabel(_axis_name(units[1:]))
        axes.set_xlabel("seconds")
        axes.grid(True, alpha=0.3)
        axes.legend(handles=curves)
        return axes

    def _broken_at_gaps(self):
        """times and columns with a NaN row where each gap ends: a plotted
        line stops at a gap instead of crossing it."""
        import numpy

        at = numpy.searchsorted(self.times, [end for _, end in self.gaps])
        times = numpy.insert(numpy.asarray(self.times, dtype=float), at, numpy.nan)
        columns = [numpy.insert(numpy.asarray(column, dtype=float), at, numpy.nan) for column in self.columns]
        return times, columns


# How plot() names an axis in these units.
_AXIS_NAMES = {"V": "volts"}


def _axis_name(units) -> str:
    return ", ".join(_AXIS_NAMES.get(unit, unit) for unit in units)


def _array(numpy, column, volts: bool):
    if volts or None in column:
        return numpy.asarray([numpy.nan if v is None else v for v in column], dtype=float)
    return numpy.asarray(column, dtype=int)


def _cell(value, decimals: int | None) -> str:
    if value is None or value != value:  # no reading: None in a list, NaN in an array
        return ""
    return str(int(value)) if decimals is None else f"{value:.{decimals}f}"


class _Run:
    """One board's part of a recording, in monotonic seconds: its rows by
    slot, its missed slots and its gaps. Its thread alone writes it."""

    def __init__(self, board, channels, volts: bool):
        self.board = board
        self.channels = channels
        inputs = [board.inputs[k] for k in channels]
        self.convert = [i.channel.value if volts else int for i in inputs]
        self.rows = {}  # slot: (began, lateness, values)
        self.missed = 0
        self.gaps = []
        self.error = None  # what ended its thread early, raised to the caller
        self._gone_since = None
        self._quiet_since = None  # when scans began to go unanswered

    def first_event(self) -> float | None:
        """When its first row was taken or its first gap began."""
        moments = [self.rows[min(self.rows)][0]] if self.rows else []
        return min(moments + [start for start, _ in self.gaps[:1]], default=None)

    def unanswered(self, moment: float) -> None:
        self.missed += 1
        self._quiet_since = moment if self._quiet_since is None else self._quiet_since

    def gone(self, moment: float) -> None:
        if self._gone_since is None:
            self._gone_since = moment if self._quiet_since is None else self._quiet_since

    def close_gap(self, moment: float) -> None:
        if self._gone_since is not None:
            self.gaps.append((self._gone_since, moment))
            self._gone_since = None

    def add_row(self, slot: int, moment: float, values, lateness: float) -> None:
        self.close_gap(moment)
        self._quiet_since = None
        self.rows[slot] = (moment, lateness, [convert(v) for convert, v in zip(self.convert, values)])


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


def _skip_over(run: _Run, slot: int, began: float, due: float, interval: float, scans) -> int:
    """The slot we are in, when slot `slot` (due at `due`) is over: the ones
    in between are skipped and counted."""
    behind = int((began - due) // interval)
    skipped = behind if scans is None else min(behind, scans - slot)
    run.missed += skipped
    return slot + skipped


@dataclasses.dataclass(frozen=True)
class _Schedule:
    start: float  # when slot 0 begins, monotonic seconds
    interval: float
    scans: int | None  # None: until stopped
    stop: threading.Event

    def end(self) -> float | None:
        return None if self.scans is None else self.start + self.scans * self.interval


def _scan_on_schedule(run: _Run, read: str, schedule: _Schedule) -> None:
    """Scan the run's board at slot k's start, start + k * interval, for each
    slot; a slot found over is skipped and counted, never shifted. A board
    found gone is followed until it is back, at most until the end."""
    board, end, slot = run.board, schedule.end(), 0
    while (schedule.scans is None or slot < schedule.scans) and not schedule.stop.is_set():
        due = schedule.start + slot * schedule.interval
        if (wait := due - time.monotonic()) > 0 and schedule.stop.wait(wait):
            break
        began = time.monotonic()
        if began >= due + schedule.interval:  # this slot is over: on to the one we are in
            slot = _skip_over(run, slot, began, due, schedule.interval, schedule.scans)
            continue
        try:
            values = board._scan(read, run.channels)
        except BoardGone:
            run.gone(began)
            # a load of the driver that cannot end before the recording does is not started
            board._follow(end, None if end is None else end - _library.LOAD_SECONDS, schedule.stop)
            continue
        if values is None:
            run.unanswered(began)
        else:
            run.add_row(slot, began, values, began - due)
        slot += 1


def _run_thread(run: _Run, read: str, schedule: _Schedule) -> threading.Thread:
    def scan():
        try:
            _scan_on_schedule(run, read, schedule)
        except BaseException as error:  # raised to the caller, after the other boards have stopped
            run.error = error
            schedule.stop.set()
        run.close_gap(time.monotonic())

    return threading.Thread(target=scan, name=f"vostrelle record {run.board.device}", daemon=True)


def _columns(board, channels, volts: bool, several: bool):
    """(device, input, name, unit, decimals, limits) of each of the board's columns."""
    columns = []
    for k in channels:
        channel = board.inputs[k]
        if not volts:
            name, unit, decimals = channel.name, "count", None
        elif channel.channel == _channels.VOLTS:
            name, unit, decimals = channel.volts_name, "V", 6
        else:
            name, unit, decimals = f"{channel.label} ({channel.unit})", channel.unit, channel.channel.decimals
        name = f"{board.device} {name}" if several else name
        columns.append((board.device, k, name, unit, decimals, channel.limits if volts else None))
    return columns


def _channels_of(board, channels) -> list[int]:
    chosen = channels.get(board, channels.get(board.device)) if isinstance(channels, dict) else channels
    return list(range(len(board.inputs))) if chosen is None else [board.inputs[k].number for k in chosen]


def record(boards, channels=None, interval: float = 1.0, duration: float | None = None,
           count: int | None = None, volts: bool = True) -> Recording:
    """Record several boards on one schedule into one Recording.

    Takes what Board.record takes; `channels` applies to every board, or is
    a dict {board: channels}. Each board is scanned on a thread of its own,
    at the same slots, so two boards take no longer a scan than one. A board
    that goes away is followed on its own: the others go on meanwhile, its
    columns hold NaN in their rows, and its missed slots and gaps are in
    missed_by_board and gaps_by_board. Column names start with the board's
    device.
    """
    boards = list(boards)
    if len({board.device for board in boards}) != len(boards) or not boards:
        raise ValueError("name each board once, and at least one")
    chosen = [_channels_of(board, channels) for board in boards]
    for numbers in chosen:
        _check_scan(numbers, interval, volts)
    scans = _scheduled_scans(interval, duration, count)
    several = len(boards) > 1
    columns = [c for board, numbers in zip(boards, chosen) for c in _columns(board, numbers, volts, several)]
    recording = Recording(columns, volts, interval)
    runs = [_Run(board, numbers, volts) for board, numbers in zip(boards, chosen)]
    schedule = _Schedule(time.monotonic(), interval, scans, threading.Event())
    recording.interrupted = _run_all(runs, "cead" if volts else "cea", schedule)
    recording._fill(runs)
    recording._finish()
    return recording


def _run_all(runs, read: str, schedule: _Schedule) -> bool:
    """Each board on its own thread (the driver's calls let the others run);
    True when Ctrl-C ended them early."""
    threads = [_run_thread(run, read, schedule) for run in runs]
    for thread in threads:
        thread.start()
    interrupted = False
    while any(thread.is_alive() for thread in threads):
        try:
            for thread in threads:
                thread.join()
        except KeyboardInterrupt:
            interrupted = True
            schedule.stop.set()
    for run in runs:
        if run.error is not None:
            raise run.error
    return interrupted
