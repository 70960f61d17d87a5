"""A live plot of inputs 0 and 1, in volts, over the last ten seconds.

    python3 live_plot.py
    vostrelle-sim --wave --run -- python3 live_plot.py   # without a board
"""

from collections import deque

from matplotlib import animation, pyplot

import vostrelle

CHANNELS = (0, 1)
SECONDS_SHOWN = 10
FRAME_MS = 100

board = vostrelle.Board()
samples = SECONDS_SHOWN * 1000 // FRAME_MS
history = {channel: deque([board.inputs[channel].volts()] * samples, maxlen=samples) for channel in CHANNELS}
times = [i * FRAME_MS / 1000 - SECONDS_SHOWN for i in range(samples)]

figure, axes = pyplot.subplots(figsize=(9, 4))
lines = {channel: axes.plot(times, history[channel], label=board.inputs[channel].volts_name)[0] for channel in CHANNELS}
axes.set_ylim(0, 5)
axes.set_xlabel("seconds")
axes.set_ylabel("volts")
axes.legend(loc="upper left")


def update(_frame):
    for channel in CHANNELS:
        history[channel].append(board.inputs[channel].volts())
        lines[channel].set_ydata(history[channel])
    return list(lines.values())


live = animation.FuncAnimation(figure, update, interval=FRAME_MS, blit=True, cache_frame_data=False)
pyplot.show()
