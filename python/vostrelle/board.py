"""The board: its texts, eight analog inputs, PWM, frequency, LED and eight lines."""

import operator

from . import _library
from .recording import Recording, record

# The board's channels and ranges, as tools/common/board.h holds them for the
# tools: change both together.
INPUTS = 8
LINES = 8
PWM_RANGE = range(0, 256)
FREQUENCY_RANGE = range(0, 65536)

# Channels of the driver's analog outputs.
_PWM_CHANNEL = 0
_FREQUENCY_CHANNEL = 1
_LED_LINE = 0  # the LED is digital line PB0


def _text(raw: bytes | None) -> str:
    """The driver's texts are ISO-8859-1."""
    return (raw or b"").decode("iso-8859-1")


def _channel(number, count: int, what: str) -> int:
    number = operator.index(number)
    if not 0 <= number < count:
        raise IndexError(f"{what} {number} does not exist: the board has {what}s 0..{count - 1}")
    return number


def _switch(value) -> int:
    if value in (True, False):  # also 1 and 0
        return int(value)
    raise ValueError(f"a switch is True or False (or 1 or 0), not {value!r}")


def _in_range(value, allowed: range, what: str) -> int:
    value = operator.index(value)
    if value not in allowed:
        raise ValueError(f"{what} takes {allowed.start}..{allowed.stop - 1}, not {value}")
    return value


class Input:
    """One analog input (0..7): `count()` 0..1023, `volts()` 0..5.

    Each reading is one conversion on the board: about 1.1 ms for a count,
    2.2 ms in volts."""

    def __init__(self, board: "Board", number: int):
        self._board = board
        self.number = number

    @property
    def name(self) -> str:
        """The driver's name of this input as a count, e.g. 'EA0(PA0)0..1023'."""
        return _text(self._board._call("cnea", self.number))

    @property
    def volts_name(self) -> str:
        """The driver's name of this input in volts, e.g. 'EA0(PA0)0..5V'."""
        return _text(self._board._call("cnead", self.number))

    def count(self) -> int:
        """Convert once and return the raw 10-bit count, 0..1023."""
        return self._board._call("cea", self.number)

    def volts(self) -> float:
        """Convert once and return volts, 0.0..5.0 (count * 5 / 1023)."""
        return self._board._call("cead", self.number)

    def __repr__(self) -> str:
        return f"<vostrelle input {self.number}>"


class Inputs:
    """The eight analog inputs: `board.inputs[0]` .. `board.inputs[7]`."""

    def __init__(self, board: "Board"):
        self._inputs = tuple(Input(board, number) for number in range(INPUTS))

    def __getitem__(self, number) -> Input:
        return self._inputs[_channel(number, INPUTS, "input")]

    def __len__(self) -> int:
        return INPUTS

    def __iter__(self):
        return iter(self._inputs)


class Lines:
    """The eight digital lines PB0..PB7: `board.lines[3] = True` drives line 3
    high; `board.lines[3]` reads back the last value the driver set."""

    def __init__(self, board: "Board"):
        self._board = board

    def __getitem__(self, number) -> bool:
        return self._board._call("crsb", _channel(number, LINES, "line")) > 0

    def __setitem__(self, number, value) -> None:
        self._board._call("csb", _channel(number, LINES, "line"), _switch(value))

    def __len__(self) -> int:
        return LINES

    def __iter__(self):
        return (self[number] for number in range(LINES))

    def __repr__(self) -> str:
        return "<vostrelle lines " + "".join("1" if high else "0" for high in self) + ">"


class Board:
    """The Vostrelle board, through its driver library.

    Creating a Board loads the driver, which opens the board's device
    ($VOSTRELLE_DEVICE, else /dev/ttyACM0) and waits two seconds for it to
    be ready. The library is `library`, else $VOSTRELLE_LIBRARY, else
    libvostrelle.so.1 from the system's library path.

        board = vostrelle.Board()
        print(board.inputs[0].volts())
        board.led = True

    The driver reports no errors of the board itself: a missing or silent
    board reads as zeros or stale values (`vostrelle-probe doctor` says why).
    Channel numbers and values are checked here and refused with IndexError
    or ValueError. Use it as a context manager, or call close(), to give the
    device back before the program ends.
    """

    def __init__(self, library: str | None = None):
        self._library = _library.load(library)
        self.inputs = Inputs(self)
        self.lines = Lines(self)
        self._pwm: int | None = None
        self._frequency: int | None = None

    def _call(self, name: str, *arguments):
        with _library.lock:
            if self._library is None:
                raise ValueError("the board is closed")
            return getattr(self._library, name)(*arguments)

    @property
    def title(self) -> str:
        """The driver's title, 'Vostrelle'."""
        return _text(self._call("ctitre"))

    @property
    def detail(self) -> str:
        """The driver's one-line description."""
        return _text(self._call("cdetail"))

    @property
    def pwm(self) -> int | None:
        """PWM duty, 0..255. The board cannot report it: reading gives the
        last value set through this Board, or None."""
        return self._pwm

    @pwm.setter
    def pwm(self, value: int) -> None:
        value = _in_range(value, PWM_RANGE, "pwm")
        self._call("csa", _PWM_CHANNEL, value)
        self._pwm = value

    @property
    def frequency(self) -> int | None:
        """Frequency output value, 0..65535. Reading gives the last value set
        through this Board, or None."""
        return self._frequency

    @frequency.setter
    def frequency(self, value: int) -> None:
        value = _in_range(value, FREQUENCY_RANGE, "frequency")
        self._call("csa", _FREQUENCY_CHANNEL, value)
        self._frequency = value

    @property
    def led(self) -> bool:
        """The LED (digital line PB0), as the driver last set it."""
        return self.lines[_LED_LINE]

    @led.setter
    def led(self, value: bool) -> None:
        self.lines[_LED_LINE] = value

    def record(
        self,
        channels=None,
        interval: float = 1.0,
        duration: float | None = None,
        count: int | None = None,
        volts: bool = True,
    ) -> Recording:
        """Record inputs on a fixed schedule and return a Recording.

        channels: input numbers (default all eight). interval: seconds from
        one scan's start to the next; scan k starts at k * interval after
        the first, never later because an earlier scan ran long, and a scan
        that cannot start inside its slot is skipped and counted in
        `missed`. duration (seconds) or count (scheduled scans) ends it;
        with neither it runs until Ctrl-C. Ctrl-C always ends it early and
        returns what was taken (`interrupted` is then True). volts=False
        records counts. An interval shorter than the scan itself is refused
        with ValueError, giving the shortest one.
        """
        numbers = list(range(INPUTS)) if channels is None else [_channel(c, INPUTS, "input") for c in channels]
        return record(self, numbers, interval, duration, count, volts)

    def close(self) -> None:
        """Unload the driver (the last Board to close closes the device)."""
        with _library.lock:
            if self._library is not None:
                _library.unload(self._library)
                self._library = None

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __repr__(self) -> str:
        return "<vostrelle.Board " + ("closed" if self._library is None else "open") + ">"
