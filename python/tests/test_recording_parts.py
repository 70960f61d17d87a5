# Fast tests of what a Recording holds and writes, filled by hand from two fake boards' runs.

import math

import pytest

from vostrelle import _channels, recording
from vostrelle.board import Input

BATH = _channels.Channel(name="bath", unit="°C", decimals=1, gain=100.0, limits=(10.0, 40.0))


class FakeBoard:
    """A board's device and inputs, with the driver's names of them; it is never scanned."""

    def __init__(self, device: str, channels: dict):
        self.device = device
        self.inputs = {k: Input(self, k, channels.get(k, _channels.VOLTS)) for k in range(8)}

    def _call(self, name: str, number: int) -> bytes:
        return f"EA{number}(PA{number}){'0..5V' if name == 'cnead' else '0..1023'}".encode()


def filled(volts: bool) -> recording.Recording:
    """Board A answers slots 0 and 1; board B answers slot 0, misses slot 1, is gone, is back at slot 3."""
    first, second = FakeBoard("/dev/ttyACM0", {0: BATH}), FakeBoard("/dev/ttyACM1", {})
    columns = recording._columns(first, [0, 1], volts, True) + recording._columns(second, [0], volts, True)
    made = recording.Recording(columns, volts, 0.1)
    a, b = recording._Run(first, [0, 1], volts), recording._Run(second, [0], volts)
    a.add_row(0, 10.0, [0.25, 1.0] if volts else [51, 205], 0.001)
    a.add_row(1, 10.1, [0.3, 1.5] if volts else [61, 307], 0.002)
    b.add_row(0, 10.0005, [2.0] if volts else [409], 0.0005)
    b.unanswered(10.1)
    b.gone(10.2)
    b.add_row(3, 10.3, [2.5] if volts else [512], 0.0)
    made._fill([a, b])
    made._finish()
    return made


def test_columns_carry_name_unit_and_limits():
    made = filled(volts=True)
    assert made.names == ("/dev/ttyACM0 bath (°C)", "/dev/ttyACM0 EA1(PA1)0..5V",
                          "/dev/ttyACM1 EA0(PA0)0..5V")
    assert made.units == ("°C", "V", "V")
    assert made.limits == ((10.0, 40.0), None, None)
    counts = filled(volts=False)
    assert counts.units == ("count",) * 3 and counts.limits == (None,) * 3
    assert counts.names[0] == "/dev/ttyACM0 EA0(PA0)0..1023"


def test_rows_gaps_and_missed_are_kept_per_board():
    made = filled(volts=True)
    assert list(made.times) == pytest.approx([0.0, 0.1, 0.3])
    assert list(made["/dev/ttyACM0", 0][:2]) == pytest.approx([25.0, 30.0])
    assert math.isnan(made["/dev/ttyACM0", 0][2]) and math.isnan(made["/dev/ttyACM1", 0][1])
    assert made.missed_by_board == {"/dev/ttyACM0": 0, "/dev/ttyACM1": 1} and made.missed == 1
    assert made.gaps_by_board["/dev/ttyACM0"] == []
    assert len(made.gaps) == 1 and made.gaps[0] == pytest.approx((0.1, 0.3))
    assert "3 scans" in repr(made) and "1 missed, 1 gap>" in repr(made)
    with pytest.raises(KeyError, match=r"several boards have it: use recording\[board, k\]"):
        made[0]


@pytest.mark.parametrize("volts, lines", [
    (True, ["seconds,/dev/ttyACM0 bath (°C),/dev/ttyACM0 EA1(PA1)0..5V,/dev/ttyACM1 EA0(PA0)0..5V",
            "0.000000,25.0,1.000000,2.000000",
            "0.100000,30.0,1.500000,",
            "0.300000,,,2.500000"]),
    (False, ["seconds,/dev/ttyACM0 EA0(PA0)0..1023,/dev/ttyACM0 EA1(PA1)0..1023,/dev/ttyACM1 EA0(PA0)0..1023",
             "0.000000,51,205,409",
             "0.100000,61,307,",
             "0.300000,,,512"]),
])
def test_csv_has_units_in_the_header_and_empty_cells_where_a_board_gave_nothing(tmp_path, volts, lines):
    path = tmp_path / "run.csv"
    filled(volts).to_csv(path)
    assert path.read_text(encoding="utf-8").splitlines() == lines


def test_plot_puts_other_units_on_the_right_marks_limits_and_breaks_lines_at_gaps():
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    axes = filled(volts=True).plot()
    right = next(other for other in axes.figure.axes if other is not axes)
    assert (axes.get_ylabel(), right.get_ylabel()) == ("°C", "volts")
    limits = [line.get_ydata()[0] for line in axes.lines if line.get_linestyle() == "--"]
    assert limits == [10.0, 40.0]
    times = axes.lines[0].get_xdata()
    assert math.isnan(times[2]) and list(times[[0, 1, 3]]) == pytest.approx([0.0, 0.1, 0.3])
    assert list(right.lines[-1].get_ydata()[[0, 3]]) == [2.0, 2.5]
    from matplotlib import pyplot
    pyplot.close(axes.figure)
