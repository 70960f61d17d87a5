"""The board: its texts, eight analog inputs, PWM, frequency, LED and eight lines."""

import operator
import time

from . import _channels, _device, _library, _ports
from ._device import BoardGone, BoardSilent
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

# Reply bytes set before each conversion: a conversion the board does not
# answer returns them, which no answer can (the highest count is 1023).
_NO_ANSWER = 0xFFFF
_HIGHEST = {"cea": 1023, "cead": 5.0}
# The board counts as silent after this many unanswered conversions in a row,
# over this long at least, as the tools decide: a machine busy with other work
# delays a few replies in a row too. A silent board is then asked once a
# second instead of at every reading, since each unanswered conversion
# busy-waits the driver's deadlines.
SILENT_AFTER = 3
SILENT_SECONDS = 0.25
SILENT_CHECK_SECONDS = 1.0
# How often the path of a board that has gone is looked at.
WATCH_SECONDS = 0.2


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
    """One analog input (0..7): `count()` 0..1023, `volts()` 0..5, `value()`
    in the unit the channel file gives it (volts when it gives none).

    Each reading is one conversion on the board: about 1.1 ms for a count,
    2.2 ms in volts."""

    def __init__(self, board: "Board", number: int, channel: _channels.Channel):
        self._board = board
        self.number = number
        self.channel = channel  # name, unit, decimals, scale and limits from the channel file

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
        return self._board._read("cea", self.number)

    def volts(self) -> float:
        """Convert once and return volts, 0.0..5.0 (count * 5 / 1023)."""
        return self._board._read("cead", self.number)

    def value(self) -> float:
        """Convert once and return the value in `unit`: the channel file's
        scale applied to the volts (the volts themselves without one)."""
        return self.channel.value(self.volts())

    @property
    def unit(self) -> str:
        """The unit of value(): the channel file's, else 'V'."""
        return self.channel.unit

    @property
    def limits(self) -> tuple[float, float] | None:
        """(low, high) from the channel file, in `unit`, or None; plot() marks them."""
        return self.channel.limits

    @property
    def label(self) -> str:
        """The channel file's name of this input, else the driver's name in volts."""
        return self.channel.name or self.volts_name

    def __repr__(self) -> str:
        return f"<vostrelle input {self.number}>"


class Inputs:
    """The eight analog inputs: `board.inputs[0]` .. `board.inputs[7]`."""

    def __init__(self, board: "Board", channels: dict):
        self._inputs = tuple(Input(board, k, channels.get(k, _channels.VOLTS)) for k in range(INPUTS))

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
        self._board._set("csb", _channel(number, LINES, "line"), _switch(value))

    def __len__(self) -> int:
        return LINES

    def __iter__(self):
        return (self[number] for number in range(LINES))

    def __repr__(self) -> str:
        return "<vostrelle lines " + "".join("1" if high else "0" for high in self) + ">"


class Board:
    """The Vostrelle board, through its driver library.

    Creating a Board loads an instance of the driver of its own, which opens
    the board's device (`device`, else $VOSTRELLE_DEVICE, else /dev/ttyACM0)
    and waits two seconds for it to be ready. Boards on different devices
    work side by side; a second Board on a device that one has open raises
    BoardInUse. The library is `library`, else $VOSTRELLE_LIBRARY, else
    libvostrelle.so.1 from the system's library path. The channel file
    (`channels_file`, else $VOSTRELLE_CHANNELS, else
    ~/.config/vostrelle/channels.toml) gives inputs a name, a unit and a
    scale: input.value(), .unit and .label, and recordings, report in them.

        board = vostrelle.Board("/dev/ttyACM1")
        print(board.inputs[0].value(), board.inputs[0].unit)
        board.led = True

    The driver reports no errors of the board itself, so the Board watches
    the device: reading or setting an output while the board has gone
    (unplugged, its path leading to another device, its port hung up) raises
    BoardGone, which names the device, and a board that stops answering
    raises BoardSilent (a BoardGone) after a quarter second; it is then asked once
    a second, not at every reading. wait_for_board() waits for it to be back
    and loads the driver again; the board has been reset by then, and the
    outputs are set again only with restore_outputs=True (to the last values
    set through this Board). Channel numbers and values are checked here and
    refused with IndexError or ValueError. Use it as a context manager, or
    call close(), to give the device back before the program ends.
    """

    def __init__(self, device: str | None = None, *, library: str | None = None,
                 restore_outputs: bool = False, channels_file=None):
        self.device = device or _device.chosen_path()
        usb = _ports.usb_identity(self.device)
        self.serial = usb.serial if usb and usb.serial else None  # its USB serial number, when it has one
        channels = _channels.channels_of(_channels.read(channels_file), self.device, self.serial)
        self._driver = _library.Driver(library)
        _device.claim(self.device, self)
        try:
            self._driver.load(self.device)
        except BaseException:
            self._driver.unload()
            _device.release(self)
            raise
        self._device = _device.Device(self.device)
        self.restore_outputs = restore_outputs
        self.inputs = Inputs(self, channels)
        self.lines = Lines(self)
        self._outputs: dict[tuple[str, int], int] = {}  # (function, channel): last value set
        self._unanswered = 0  # conversions in a row the board left unanswered
        self._quiet_since = 0.0  # when the first of them was asked
        self._quiet_for = 0.0  # from then to the last of them
        self._next_check = 0.0  # when a silent board is asked again

    def _functions(self):
        """The loaded driver's functions; call with its lock held."""
        if self._driver.functions is None:
            raise ValueError("the board is closed")
        return self._driver.functions

    def _call(self, name: str, *arguments):
        with self._driver.lock:
            return getattr(self._functions(), name)(*arguments)

    def _check_device(self) -> None:
        self._functions()  # a closed Board says so, whatever its device does
        if (reason := self._device.gone()) is not None:
            raise BoardGone(self._device.path, reason)

    def _silent(self) -> bool:
        return self._unanswered >= SILENT_AFTER and self._quiet_for >= SILENT_SECONDS

    def _no_answer(self) -> BoardSilent:
        return BoardSilent(self._device.path, "does not answer")

    def _convert(self, name: str, channel: int):
        """One conversion; None when the board left it unanswered."""
        with self._driver.lock:
            driver = self._functions()
            driver.csa(-1, _NO_ANSWER)  # channel -1 sets the reply bytes and sends nothing
            value = getattr(driver, name)(channel)
        return None if value > _HIGHEST[name] else value

    def _ask(self, name: str, channel: int):
        """A conversion, unless the board is silent and not due to be asked
        (BoardSilent then); None when unanswered."""
        now = time.monotonic()
        if self._silent() and now < self._next_check:
            raise self._no_answer()
        value = self._convert(name, channel)
        self._note_answer(value is not None, now)
        self._next_check = now + SILENT_CHECK_SECONDS
        return value

    def _note_answer(self, answered: bool, now: float) -> None:
        if answered:
            self._unanswered = 0
            return
        if self._unanswered == 0:
            self._quiet_since = now
        self._unanswered += 1
        self._quiet_for = now - self._quiet_since

    def _read(self, name: str, channel: int):
        """One reading of a board that is there, tried again until it answers
        or counts as silent: a reply that misses its deadline on a busy
        machine is not a silent board."""
        while True:
            self._check_device()
            if (value := self._ask(name, channel)) is not None:
                return value
            if self._silent():
                raise self._no_answer()

    def _scan(self, name: str, channels):
        """A recording's scan: its readings, or None when one went unanswered."""
        self._check_device()
        values = []
        for channel in channels:
            if (value := self._ask(name, channel)) is None:
                return None
            values.append(value)
        return values

    def _set(self, name: str, channel: int, value: int) -> None:
        self._check_device()
        if self._silent():
            raise self._no_answer()
        self._call(name, channel, value)
        self._outputs[name, channel] = value

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
        last value set through this Board since the driver was loaded, or None."""
        return self._outputs.get(("csa", _PWM_CHANNEL))

    @pwm.setter
    def pwm(self, value: int) -> None:
        self._set("csa", _PWM_CHANNEL, _in_range(value, PWM_RANGE, "pwm"))

    @property
    def frequency(self) -> int | None:
        """Frequency output value, 0..65535. Reading gives the last value set
        through this Board since the driver was loaded, or None."""
        return self._outputs.get(("csa", _FREQUENCY_CHANNEL))

    @frequency.setter
    def frequency(self, value: int) -> None:
        self._set("csa", _FREQUENCY_CHANNEL, _in_range(value, FREQUENCY_RANGE, "frequency"))

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
        returns what was taken (`interrupted` is then True). Values are in
        each input's unit (the channel file's, else volts); volts=False
        records counts. An interval shorter than the scan itself is refused
        with ValueError, giving the shortest one.

        A board that goes away is followed: no scan is taken while it is
        gone or silent, the driver is loaded again when it is back, and the
        same recording goes on. The slots in between count as missed, and
        `gaps` gives each gap's start and end.
        """
        return record([self], channels, interval, duration, count, volts)

    def wait_for_board(self, timeout: float | None = None) -> bool:
        """Wait until the board is back and answers: True, or False after
        `timeout` seconds (None: no limit). A board whose device has gone is
        looked for five times a second, and the driver loaded again (two
        seconds) when its device is there; a silent one is asked once a
        second. Returns True at once for a board that is there and answers."""
        deadline = None if timeout is None else time.monotonic() + timeout
        return self._follow(deadline, deadline)

    def _follow(self, deadline: float | None, last_load: float | None, stop=None) -> bool:
        """wait_for_board's loop; no load of the driver starts after last_load,
        and it ends (False) when the `stop` event is set."""
        tried = None  # the device node the last load found, if no board answered there
        while True:
            gone = self._device.gone()
            if gone is None and self._answers():
                return True
            found = _device.seen(self._device.path)
            if gone and found not in (None, tried) and (last_load is None or time.monotonic() < last_load):
                self._reload()
                tried = found
                continue
            if not _pause(deadline, stop):
                return False

    def _answers(self) -> bool:
        """Whether a conversion gets a reply, before the board counts as silent."""
        try:
            self._read("cea", 0)
        except BoardGone:  # a BoardSilent too
            return False
        return True

    def _reload(self) -> None:
        """Unload this Board's driver, which closes the port, and load it
        again, which opens the device anew and waits two seconds."""
        with self._driver.lock:
            self._functions()
            self._driver.unload()
            self._driver.load(self.device)
            self._device = _device.Device(self.device)
            self._unanswered = 0
            self._after_reset()

    def _after_reset(self) -> None:
        """The board starts with its outputs at rest: set them again, or forget them."""
        if not self.restore_outputs:
            self._outputs.clear()
            return
        for (name, channel), value in self._outputs.items():
            getattr(self._driver.functions, name)(channel, value)

    def close(self) -> None:
        """Unload this Board's driver, which closes its device."""
        with self._driver.lock:
            self._driver.unload()
        _device.release(self)

    def __enter__(self) -> "Board":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self._driver.functions is None else "open"
        return f"<vostrelle.Board {self.device} {state}>"


def _pause(deadline: float | None, stop=None) -> bool:
    """Sleep while a gone or silent board is watched; False when the deadline
    has passed or the `stop` event is set."""
    left = WATCH_SECONDS if deadline is None else min(WATCH_SECONDS, deadline - time.monotonic())
    if left <= 0:
        return False
    if stop is None:
        time.sleep(left)
        return True
    return not stop.wait(left)
