"""Read every analog input of the board once, as a count and in volts.

    python3 read_inputs.py
    vostrelle-sim --run -- python3 read_inputs.py     # without a board
"""

import vostrelle

board = vostrelle.Board()
print(board.title, "-", board.detail)
for channel in board.inputs:
    print(f"{channel.number}  {channel.volts_name:16} {channel.count():5}  {channel.volts():.3f} V")
