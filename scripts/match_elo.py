#!/usr/bin/python3
"""Score and Elo of BRAIN1 in quoribo-match outputs, with a 95% interval.

Usage: match_elo.py MATCH_OUTPUT...

Adds up the first brain's wins, losses and draws of every file (each file one
quoribo-match run with the same BRAIN1) and prints them with the score and
the Elo difference; the interval is the Wilson score interval on the points,
a draw counting half.
"""

import math
import re
import sys

Z = 1.959964


def elo(score, games):
    edge = 0.5 / games
    score = min(max(score, edge), 1 - edge)
    return -400 * math.log10(1 / score - 1)


def main(paths):
    wins = losses = draws = 0
    for path in paths:
        with open(path) as src:
            found = re.search(r"wins (\d+)\s+losses (\d+)\s+draws (\d+)", src.read())
        if not found:
            print(f"{path}: no match summary")
            return 1
        w, l, d = (int(x) for x in found.groups())
        wins, losses, draws = wins + w, losses + l, draws + d
    n = wins + losses + draws
    s = (wins + draws / 2) / n
    spread = Z * Z / n
    centre = (s + spread / 2) / (1 + spread)
    half = Z / (1 + spread) * math.sqrt(s * (1 - s) / n + spread / (4 * n))
    print(f"{n} games: +{wins} -{losses} ={draws}, score {s * 100:.1f}% "
          f"[{(centre - half) * 100:.1f}%, {(centre + half) * 100:.1f}%], "
          f"Elo {elo(s, n):+.0f} [{elo(centre - half, n):+.0f}, {elo(centre + half, n):+.0f}]")
    return 0


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1:]))
