"""The channel file: each board's inputs with a name, a unit and a scale (TOML).

    [[board]]
    serial = "5573631383735170E0A1"      # or: device = "/dev/ttyACM0"
    [board.input.0]
    name = "bath temperature"
    unit = "°C"
    decimals = 1
    gain = 100.0                          # or calibration = [[v1, x1], [v2, x2]], or table = [[v, x], ...]
    limits = [10.0, 40.0]

It is the file given to the Board, else $VOSTRELLE_CHANNELS, else
~/.config/vostrelle/channels.toml (which may be missing).
"""

import bisect
import dataclasses
import math
import os
import re
import tomllib

from . import _device

CHANNELS_VARIABLE = "VOSTRELLE_CHANNELS"
DEFAULT_FILE = "~/.config/vostrelle/channels.toml"
INPUTS = 8
BOARD_KEYS = ("serial", "device", "input")
INPUT_KEYS = ("name", "unit", "decimals", "gain", "offset", "calibration", "table", "limits")
SCALE_KINDS = (("gain", "offset"), ("calibration",), ("table",))
MOST_DECIMALS = 9

# What to write instead, after tomllib's own words for a malformed file.
_SYNTAX_HINTS = {
    "Invalid value": 'write text in double quotes (unit = "°C"), numbers as 1.5, lists as [0.5, 10.0]',
    "Expected '=' after a key": "write key = value, one pair a line",
    "Invalid statement": "write key = value, or a table header such as [board.input.0]",
    "Cannot overwrite a value": "give each key once in its table",
    "Cannot declare": "give each table once: one [board.input.N] per input of a [[board]]",
    "Unclosed array": "close the list with ]",
    "Unterminated string": 'close the text with "',
}
_OTHER_SYNTAX = "write key = value pairs under [[board]] and [board.input.N] headers"


class ChannelFileError(ValueError):
    """The channel file cannot be used; the message gives its path, the line
    and what to write instead."""


@dataclasses.dataclass(frozen=True)
class Channel:
    """How one input is reported: value = gain × volts + offset, or piecewise
    linear over `table` (volts, value), clamped at its ends. name None: the
    driver's name of the input."""

    name: str | None = None
    unit: str = "V"
    decimals: int = 3
    gain: float = 1.0
    offset: float = 0.0
    table: tuple[tuple[float, float], ...] = ()
    limits: tuple[float, float] | None = None

    def value(self, volts: float) -> float:
        if not self.table:
            return self.gain * volts + self.offset
        points = [v for v, _ in self.table]
        right = min(max(bisect.bisect_right(points, volts), 1), len(points) - 1)
        (v0, x0), (v1, x1) = self.table[right - 1], self.table[right]
        volts = min(max(volts, points[0]), points[-1])
        return x0 + (volts - v0) * (x1 - x0) / (v1 - v0)


VOLTS = Channel()


@dataclasses.dataclass(frozen=True)
class BoardChannels:
    """One [[board]] of the file: matched by USB serial number or by device path."""

    serial: str | None
    device: str | None
    inputs: dict

    def matches(self, device: str, serial: str | None) -> bool:
        if self.serial is not None:
            return serial == self.serial
        return _device.same_device(self.device, device)


class _Fault(Exception):
    """A fault found at a line; the file's path is added where it is caught."""

    def __init__(self, line: int, message: str):
        super().__init__(message)
        self.line = line


_KEY_PART = r"""(?:[A-Za-z0-9_-]+|"[^"]*"|'[^']*')"""
_KEY_PATH = rf"{_KEY_PART}(?:\s*\.\s*{_KEY_PART})*"
_HEADER = re.compile(rf"\s*(\[\[?)\s*({_KEY_PATH})\s*\]")
_ASSIGNMENT = re.compile(rf"\s*({_KEY_PATH})\s*=")
# Inside an inline table: braces, and the keys given a value.
_INLINE = re.compile(rf"\{{|\}}|({_KEY_PATH})\s*=")


def _parts(path: str) -> list[str]:
    return [part.strip("\"'") for part in re.findall(_KEY_PART, path)]


def _open_quote(value: str) -> str | None:
    """The quotes of a multi-line text that the value's line leaves open."""
    return next((quote for quote in ('"""', "'''") if value.count(quote) % 2), None)


class _KeyLines:
    """Where each table and key stands in the text, as best a line scan can
    tell (tomllib gives no positions past syntax errors): headers, dotted
    keys and inline tables alike."""

    def __init__(self, text: str):
        self.tables = {}  # (board index, input key or None): line
        self.keys = {}  # (board index, input key or None, key): line
        self._boards = -1
        table, depth, quote = [], 0, None
        for number, line in enumerate(text.splitlines(), 1):
            if quote:  # inside a text that spans lines
                quote = None if line.count(quote) % 2 else quote
            elif depth > 0:  # inside a list that spans lines
                depth += _depth(line)
            elif found := _HEADER.match(line):
                table = self._header(found[1], _parts(found[2]), number)
            elif found := _ASSIGNMENT.match(line):
                value = line[found.end():]
                self._inline(table, table + _parts(found[1]), value, number)
                depth, quote = _depth(value), _open_quote(value)

    def _header(self, brackets: str, path: list[str], number: int) -> list[str]:
        if brackets == "[[" and path == ["board"]:
            self._boards += 1
        if path[:1] == ["board"]:
            path = ["board", self._boards, *path[1:]]
        self._note(path, path, number)
        return path

    def _inline(self, table: list[str], path: list[str], value: str, number: int) -> None:
        """The key at `path` and the keys of an inline table in its value."""
        self._note(table, path, number)
        quoted_values = re.sub(r""""[^"]*"(?!\s*=)|'[^']*'(?!\s*=)""", '""', value.split("#", 1)[0])
        opened, last = [path], path
        for found in _INLINE.finditer(quoted_values):
            if found[0] == "{":
                opened.append(last)
            elif found[0] == "}":
                last = opened.pop() if len(opened) > 1 else path
            else:
                last = opened[-1] + _parts(found[1])
                self._note(opened[-1], last, number)

    def _note(self, table: list[str], path: list[str], number: int) -> None:
        """The line of each table and key that `path` names below `table`."""
        for length in range(max(len(table), 1), len(path) + 1):
            match path[:length]:
                case ["board", int(board)]:
                    self.tables.setdefault((board, None), number)
                case ["board", int(board), "input", name]:
                    self.tables.setdefault((board, name), number)
                case ["board", int(board), "input", name, key]:
                    self.keys.setdefault((board, name, key), number)
                case ["board", int(board), key] if key != "input":
                    self.keys.setdefault((board, None, key), number)
                case [key] if key != "board":
                    self.keys.setdefault((-1, None, key), number)

    def line(self, board: int, name: str | None = None, key: str | None = None) -> int:
        found = self.keys.get((board, name, key)) or self.tables.get((board, name))
        return found or self.tables.get((board, None), 1)


def _depth(value: str) -> int:
    """How many lists a value's text opens and leaves open."""
    value = re.sub(r""""[^"]*"|'[^']*'""", "", value).split("#", 1)[0]
    return value.count("[") - value.count("]")


@dataclasses.dataclass
class _Place:
    """A table of the file being checked, to find the lines of its keys."""

    lines: _KeyLines
    board: int
    input: str | None = None

    def fault(self, key: str | None, message: str) -> _Fault:
        return _Fault(self.lines.line(self.board, self.input, key), message)


def _text(number: float) -> str:
    return repr(float(number))


def _is_number(value) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def _points(value, place: _Place, key: str, example: str):
    """A list of [volts, value] pairs, or a fault saying what to write."""
    if not isinstance(value, list) or not all(
            isinstance(p, list) and len(p) == 2 and all(map(_is_number, p)) for p in value):
        raise place.fault(key, f"{key} takes [volts, value] pairs: {key} = {example}")
    return tuple((float(v), float(x)) for v, x in value)


def _calibration(value, place: _Place) -> dict:
    points = _points(value, place, "calibration", "[[0.5, 10.0], [4.5, 1000.0]]")
    if len(points) != 2:
        raise place.fault("calibration",
                          "a calibration is two points: calibration = [[0.5, 10.0], [4.5, 1000.0]]")
    (v0, x0), (v1, x1) = points
    if v0 == v1:
        raise place.fault("calibration", f"a calibration needs two different volts (both {_text(v0)})")
    gain = (x1 - x0) / (v1 - v0)
    return {"gain": gain, "offset": x0 - gain * v0}


def _table(value, place: _Place) -> dict:
    points = _points(value, place, "table", "[[0.4, 80.0], [1.0, 30.0], [2.5, 10.0]]")
    if len(points) < 2:
        raise place.fault("table", "a table needs two points or more: table = [[0.4, 80.0], [2.5, 10.0]]")
    for (before, _), (after, _) in zip(points, points[1:]):
        if after <= before:
            raise place.fault("table",
                              f"the table's volts must increase ({_text(after)} after {_text(before)})")
    return {"table": points}


def _linear(entry: dict, place: _Place) -> dict:
    for key in ("gain", "offset"):
        if key in entry and not _is_number(entry[key]):
            raise place.fault(key, f"{key} takes a number: {key} = 1.5")
    return {"gain": float(entry.get("gain", 1.0)), "offset": float(entry.get("offset", 0.0))}


def _scale(entry: dict, place: _Place) -> dict:
    kinds = [kind for kind in SCALE_KINDS if any(key in entry for key in kind)]
    if len(kinds) > 1:
        first, second = (next(key for key in kind if key in entry) for kind in kinds[:2])
        raise place.fault(second, f"input {place.input} has both {first} and {second}: "
                                  "give one scale (gain and offset, calibration, or table)")
    if not kinds:
        return {}
    if kinds[0] == ("gain", "offset"):
        return _linear(entry, place)
    readers = {"calibration": _calibration, "table": _table}
    return readers[kinds[0][0]](entry[kinds[0][0]], place)


def _limits(value, place: _Place) -> tuple[float, float]:
    pair = isinstance(value, list) and len(value) == 2 and all(map(_is_number, value))
    if not (pair and value[0] < value[1]):
        raise place.fault("limits", "limits are [low, high], low below high: limits = [10.0, 40.0]")
    return float(value[0]), float(value[1])


def _words(entry: dict, place: _Place) -> dict:
    """name, unit and decimals."""
    found = {}
    for key, example in (("name", '"bath temperature"'), ("unit", '"°C"')):
        if key in entry:
            if not isinstance(entry[key], str) or not entry[key]:
                raise place.fault(key, f"{key} takes a text in double quotes: {key} = {example}")
            found[key] = entry[key]
    if "decimals" in entry:
        decimals = entry["decimals"]
        if isinstance(decimals, bool) or not isinstance(decimals, int) or not 0 <= decimals <= MOST_DECIMALS:
            raise place.fault("decimals", f"decimals takes a whole number 0..{MOST_DECIMALS}: decimals = 1")
        found["decimals"] = decimals
    return found


def _channel(entry, place: _Place) -> Channel:
    if not isinstance(entry, dict):
        raise place.fault(None, f"input {place.input} takes a table: [board.input.{place.input}]")
    for key in entry:
        if key not in INPUT_KEYS:
            raise place.fault(key, f"unknown key '{key}' in [board.input.{place.input}] "
                                   f"(use {', '.join(INPUT_KEYS)})")
    limits = {"limits": _limits(entry["limits"], place)} if "limits" in entry else {}
    return Channel(**_words(entry, place), **_scale(entry, place), **limits)


def _input_number(name: str, place: _Place) -> int:
    if not name.isdigit() or int(name) >= INPUTS:
        raise place.fault(None, f"input {name} does not exist: the board has inputs 0..{INPUTS - 1}")
    return int(name)


def _match(entry: dict, place: _Place) -> dict:
    """The board's serial or device."""
    given = [key for key in ("serial", "device") if key in entry]
    if not given:
        raise place.fault(None, 'a [[board]] needs serial = "…" (its USB serial number) '
                                'or device = "/dev/ttyACM0"')
    if len(given) > 1:
        raise place.fault("device", "give serial or device, not both")
    if not isinstance(entry[given[0]], str) or not entry[given[0]]:
        raise place.fault(given[0], f'{given[0]} takes a text in double quotes: {given[0]} = "/dev/ttyACM0"')
    return {given[0]: entry[given[0]]}


def _board(entry, place: _Place) -> BoardChannels:
    if not isinstance(entry, dict):
        raise place.fault(None, "board takes tables: write [[board]] headers")
    for key in entry:
        if key not in BOARD_KEYS:
            raise place.fault(key, f"unknown key '{key}' in [[board]] (use {', '.join(BOARD_KEYS)})")
    inputs = entry.get("input", {})
    if not isinstance(inputs, dict):
        raise place.fault("input", "input takes tables: write [board.input.0] headers")
    channels = {}
    for name, channel in inputs.items():
        at = _Place(place.lines, place.board, name)
        channels[_input_number(name, at)] = _channel(channel, at)
    match = _match(entry, place)
    return BoardChannels(match.get("serial"), match.get("device"), channels)


def _document(text: str) -> dict:
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as error:
        words = str(error)
        found = re.search(r"\(at line (\d+), column (\d+)\)$", words)
        line = int(found[1]) if found else text.count("\n") + 1
        what = re.sub(r"\s*\(at [^)]*\)$", "", words)
        hint = next((h for start, h in _SYNTAX_HINTS.items() if what.startswith(start)), _OTHER_SYNTAX)
        raise _Fault(line, f"{what[:1].lower()}{what[1:]}" + (f" (column {found[2]})" if found else "") +
                     f": {hint}") from None


def parse(text: str) -> list[BoardChannels]:
    """The boards of a channel file's text; _Fault when it cannot be used."""
    document = _document(text)
    lines = _KeyLines(text)
    for key in document:
        if key != "board":
            raise _Fault(lines.line(-1, None, key), f"unknown key '{key}' (write [[board]] tables)")
    boards = document.get("board", [])
    if not isinstance(boards, list):
        raise _Fault(lines.line(-1, None, "board"), "board takes tables: write [[board]] headers")
    return [_board(entry, _Place(lines, index)) for index, entry in enumerate(boards)]


def _chosen(path) -> tuple[str, str | None]:
    """The file to read, and who named it (None: the default, which may be missing)."""
    if path is not None:
        return os.fspath(path), "the channels_file argument"
    if os.environ.get(CHANNELS_VARIABLE):
        return os.environ[CHANNELS_VARIABLE], f"${CHANNELS_VARIABLE}"
    return os.path.expanduser(DEFAULT_FILE), None


def read(path=None) -> list[BoardChannels]:
    """The boards of the channel file (see the module); [] when the default
    file is missing. ChannelFileError when it cannot be used."""
    path, named_by = _chosen(path)
    try:
        with open(path, "rb") as file:
            raw = file.read()
    except FileNotFoundError:
        if named_by is None:
            return []
        raise ChannelFileError(f"{path}: no such file (named by {named_by})") from None
    except OSError as error:
        raise ChannelFileError(f"{path}: {error.strerror}") from None
    try:
        return parse(raw.decode("utf-8"))
    except UnicodeDecodeError as error:
        line = raw[:error.start].count(b"\n") + 1
        raise ChannelFileError(f"{path}:{line}: not UTF-8 text: save the file as UTF-8") from None
    except _Fault as fault:
        raise ChannelFileError(f"{path}:{fault.line}: {fault}") from None


def channels_of(boards: list[BoardChannels], device: str, serial: str | None) -> dict:
    """{input: Channel} of the first board in the file that is this one."""
    return next((b.inputs for b in boards if b.matches(device, serial)), {})
