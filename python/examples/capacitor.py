"""Record a capacitor charging through a resistor on input 0, every 10 ms
for 5 seconds, then save the rows as CSV and the curve as a PNG.

Wire the capacitor between input 0 and ground, the resistor from a digital
line (PB1) to input 0: the script discharges, then switches the line high.

    python3 capacitor.py [--seconds S] [--output NAME]
    vostrelle-sim --wave --run -- python3 capacitor.py   # without a board
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # draw into a file; no window needed

import vostrelle

CHARGE_LINE = 1

arguments = argparse.ArgumentParser(description=__doc__.splitlines()[0])
arguments.add_argument("--seconds", type=float, default=5.0, help="how long to record (default 5)")
arguments.add_argument("--output", default="capacitor", help="name of the .csv and .png files")
options = arguments.parse_args()

with vostrelle.Board() as board:
    board.lines[CHARGE_LINE] = False
    board.lines[CHARGE_LINE] = True  # start charging
    recording = board.record(channels=[0], interval=0.01, duration=options.seconds)

recording.to_csv(options.output + ".csv")
axes = recording.plot()
axes.set_title("Input 0 while the capacitor charges")
axes.figure.savefig(options.output + ".png", dpi=100)
print(f"{len(recording)} scans, {recording.missed} missed: {options.output}.csv, {options.output}.png")
