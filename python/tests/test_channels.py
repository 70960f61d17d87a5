# Fast tests of the channel file and the serial port listing: no board, no driver.

import os

import pytest

from vostrelle import _channels, _ports

BOARD = '[[board]]\nserial = "A1"\n'


def channel(body: str) -> _channels.Channel:
    return _channels.parse(BOARD + "[board.input.0]\n" + body)[0].inputs[0]


@pytest.mark.parametrize("body, volts, value", [
    ("", 1.25, 1.25),
    ("gain = 100.0\noffset = -5.0", 0.3, 25.0),
    ("offset = 1.0", 2.5, 3.5),
    ("calibration = [[0.5, 10.0], [4.5, 1000.0]]", 2.5, 505.0),
    ("table = [[0.4, 80.0], [1.0, 30.0], [2.5, 10.0]]", 0.7, 55.0),
    ("table = [[0.4, 80.0], [1.0, 30.0], [2.5, 10.0]]", 1.75, 20.0),
    ("table = [[0.4, 80.0], [1.0, 30.0], [2.5, 10.0]]", 0.0, 80.0),
    ("table = [[0.4, 80.0], [1.0, 30.0], [2.5, 10.0]]", 5.0, 10.0),
])
def test_each_scale_gives_the_value(body, volts, value):
    assert channel(body).value(volts) == pytest.approx(value)


def test_an_input_carries_its_name_unit_decimals_and_limits():
    found = channel('name = "bath"\nunit = "°C"\ndecimals = 1\nlimits = [10.0, 40.0]')
    assert (found.name, found.unit, found.decimals, found.limits) == ("bath", "°C", 1, (10.0, 40.0))
    assert (_channels.VOLTS.unit, _channels.VOLTS.decimals) == ("V", 3)


@pytest.mark.parametrize("text, line, words", [
    (BOARD + "[board.input.0]\nname = \"x\"\ngian = 100.0\n", 5,
     "unknown key 'gian' in [board.input.0] "
     "(use name, unit, decimals, gain, offset, calibration, table, limits)"),
    (BOARD + '[board.input]\n0 = {name = "a", gain = 2.0}\n1 = {gian = 2.0}\n', 5,
     "unknown key 'gian' in [board.input.1]"),
    (BOARD + "\n[board.input.9]\nunit = \"V\"\n", 4, "input 9 does not exist: the board has inputs 0..7"),
    (BOARD + "[board.input.2]\nunit = \"cm\"\ntable = [[0.4, 80.0],\n  [2.5, 30.0], [1.0, 10.0]]\n", 5,
     "the table's volts must increase (1.0 after 2.5)"),
    (BOARD + "[board.input.1]\ncalibration = [[1.2, 10.0], [1.2, 20.0]]\n", 4,
     "a calibration needs two different volts (both 1.2)"),
    (BOARD + "[board.input.1]\ngain = 2.0\ntable = [[0.0, 1.0], [1.0, 2.0]]\n", 5,
     "input 1 has both gain and table: give one scale (gain and offset, calibration, or table)"),
    (BOARD + "[board.input.0]\nunit = °C\n", 4,
     'invalid value (column 8): write text in double quotes (unit = "°C")'),
    (BOARD + '[[board]]\ndevice = "/dev/ttyACM1"\n[board.input.0]\nlimits = [40.0, 10.0]\n', 6,
     "limits are [low, high], low below high: limits = [10.0, 40.0]"),
])
def test_a_bad_file_names_its_path_line_and_what_to_write(tmp_path, text, line, words):
    path = tmp_path / "channels.toml"
    path.write_text(text, encoding="utf-8")
    with pytest.raises(_channels.ChannelFileError) as raised:
        _channels.read(path)
    assert str(raised.value).startswith(f"{path}:{line}: ")
    assert words in str(raised.value)


def test_a_board_is_matched_by_serial_or_by_device(tmp_path):
    device = tmp_path / "ttyACM0"
    device.touch()
    (tmp_path / "by-id").symlink_to(device)
    boards = _channels.parse('[[board]]\nserial = "A1"\n[board.input.0]\nunit = "lx"\n'
                             f'[[board]]\ndevice = "{tmp_path}/by-id"\n[board.input.0]\nunit = "cm"\n')
    assert _channels.channels_of(boards, "/dev/ttyACM5", "A1")[0].unit == "lx"
    assert _channels.channels_of(boards, str(device), "B2")[0].unit == "cm"
    assert _channels.channels_of(boards, "/dev/ttyACM5", "B2") == {}


def test_the_file_is_the_argument_else_the_variable_else_the_default(tmp_path, monkeypatch):
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.delenv(_channels.CHANNELS_VARIABLE, raising=False)
    assert _channels.read() == []  # no default file: no channels, no error
    default = tmp_path / ".config/vostrelle/channels.toml"
    default.parent.mkdir(parents=True)
    default.write_text(BOARD)
    named = tmp_path / "named.toml"
    named.write_text('[[board]]\nserial = "B2"\n')
    assert [b.serial for b in _channels.read()] == ["A1"]
    monkeypatch.setenv(_channels.CHANNELS_VARIABLE, str(named))
    assert [b.serial for b in _channels.read()] == ["B2"]
    assert [b.serial for b in _channels.read(default)] == ["A1"]
    monkeypatch.setenv(_channels.CHANNELS_VARIABLE, str(tmp_path / "gone.toml"))
    with pytest.raises(_channels.ChannelFileError, match=r"gone\.toml: no such file \(named by \$VOSTRELLE"):
        _channels.read()
    with pytest.raises(_channels.ChannelFileError, match="no such file .named by the channels_file argument"):
        _channels.read(tmp_path / "also-gone.toml")


def fake_usb_port(root, name: str, serial: str | None) -> str:
    """A tty in a fake /dev and /sys; a USB device two levels above its interface when serial is given."""
    device = root / "dev" / name
    device.parent.mkdir(exist_ok=True)
    device.touch()
    interface = root / "sys/devices" / name / "usb1/1-1/1-1:1.0"
    interface.mkdir(parents=True)
    if serial is not None:
        for attribute, text in (("idVendor", "16c0"), ("idProduct", "05dc"), ("manufacturer", "Maker"),
                                ("product", "Board"), ("serial", serial)):
            (interface.parent / attribute).write_text(text + "\n")
    (root / "sys/class/tty" / name).mkdir(parents=True)
    (root / "sys/class/tty" / name / "device").symlink_to(interface)
    return str(device)


def test_boards_lists_the_ports_with_their_usb_identity(tmp_path, monkeypatch):
    monkeypatch.setenv("VOSTRELLE_SYSFS_ROOT", str(tmp_path / "sys"))
    acm = fake_usb_port(tmp_path, "ttyACM0", "5573631383735170E0A1")
    fake_usb_port(tmp_path, "ttyUSB1", None)
    (tmp_path / "dev/ttyS0").touch()
    (tmp_path / "dev/serial/by-id").mkdir(parents=True)
    (tmp_path / "dev/serial/by-id/usb-Maker_Board").symlink_to(acm)
    found = _ports.boards(str(tmp_path / "dev"))
    assert [os.path.basename(port.device) for port in found] == ["ttyACM0", "ttyUSB1"]
    assert found[0].usb == _ports.UsbIdentity("16c0", "05dc", "Maker", "Board", "5573631383735170E0A1")
    assert found[0].serial == "5573631383735170E0A1"
    assert found[0].stable_name == str(tmp_path / "dev/serial/by-id/usb-Maker_Board")
    assert (found[1].usb, found[1].serial, found[1].stable_name) == (None, None, None)
    assert found[0].can_open and found[0].held_by == ()
