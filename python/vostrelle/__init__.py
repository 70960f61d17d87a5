"""The Vostrelle data-acquisition board from Python.

Three lines read a voltage:

    import vostrelle
    board = vostrelle.Board()
    print(board.inputs[0].volts())

What the board has:

    board.title, board.detail        the driver's texts
    board.inputs[k]                  analog input k (0..7):
        .count()                     one conversion, 0..1023
        .volts()                     one conversion, 0.0..5.0 V
        .name, .volts_name           the driver's names of it
    board.pwm = 128                  PWM duty 0..255
    board.frequency = 1000           frequency output 0..65535
    board.led = True                 the LED (line PB0)
    board.lines[3] = True            digital line k (0..7); board.lines[3] reads it back

Recording on a fixed schedule (scan k starts at k * interval; a scan that
cannot start in its slot is skipped and counted, never shifted):

    rec = board.record(channels=[0, 1], interval=0.01, duration=5)
    rec.times, rec[0], rec.missed     numpy arrays when numpy is installed
    rec.to_csv("run.csv"); rec.plot()

A board that is unplugged is noticed: reading it, or setting an output,
raises BoardGone (BoardSilent when its device is there but nothing answers),
naming the device, instead of giving stale values:

    try:
        print(board.inputs[0].volts())
    except vostrelle.BoardGone:
        board.wait_for_board()        # until it is back; loads the driver again

A recording follows it by itself and goes on when it is back; rec.gaps holds
each gap's (start, end). Board(restore_outputs=True) sets the outputs again
after such a reload; by default they stay as the reset board has them.

Several boards, each on its own device, and a recording of them together:

    left, right = vostrelle.Board("/dev/ttyACM0"), vostrelle.Board("/dev/ttyACM1")
    rec = vostrelle.record([left, right], channels=[0, 1], interval=0.01, duration=5)
    rec[left, 0], rec.missed_by_board, rec.gaps_by_board
    vostrelle.boards()                # the serial ports, as `vostrelle-probe list` shows them

Each Board loads an instance of the driver of its own; a second Board on a
device that one has open raises BoardInUse.

Channels in the units of their sensors: the channel file (TOML; the Board's
channels_file, else $VOSTRELLE_CHANNELS, else ~/.config/vostrelle/channels.toml)
gives each input of a board (matched by USB serial number or device) a name,
a unit and a scale (gain and offset, a two-point calibration, or a table):

    board.inputs[0].value(), .unit, .label     e.g. 23.4, '°C', 'bath temperature'
    board.inputs[0].limits                     (10.0, 40.0), or None; plot() marks them

Recordings then hold those values, with the unit in each column's name and
on the plot's axis. A file that cannot be used raises ChannelFileError,
giving its path, the line and what to write instead.

The driver library is found through $VOSTRELLE_LIBRARY, else
libvostrelle.so.1 on the system's library path (package libvostrelle1 for
this machine's architecture). The board's device is $VOSTRELLE_DEVICE, else
/dev/ttyACM0 (or the Board's device); without a board, `vostrelle-sim --run -- python3 script.py`
runs a script against a simulated one. Loading the driver takes about two
seconds. The driver allows one caller at a time; this package serialises
calls from several threads to one Board.
"""

from ._channels import Channel, ChannelFileError
from ._device import BoardGone, BoardInUse, BoardSilent
from ._library import LIBRARY_VARIABLE, LibraryError
from ._ports import Port, UsbIdentity, boards
from ._version import project_version
from .board import Board, Input, Lines
from .recording import Recording, record

__all__ = [
    "Board", "BoardGone", "BoardInUse", "BoardSilent", "Channel", "ChannelFileError", "Input", "Lines",
    "Port", "Recording", "LibraryError", "LIBRARY_VARIABLE", "UsbIdentity", "boards", "record",
]
__version__ = project_version()
