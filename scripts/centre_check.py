#!/usr/bin/python3
"""Does the brain open in the middle of an empty board, and keep a game there?

Usage: centre_check.py [BRAIN] [--turn MS] [--bin DIR]

1. BEGIN on an empty board: the answer must lie within two cells of the
   centre, i.e. rows and columns 7..12 (the four central cells are 9 and 10).
2. One game of the brain against itself from the empty board, through
   quoribo-match: prints the final board, the rows and columns its stones
   span, and the share of stones inside the central 10 x 10 square (5..14).

Exit status 0 when both hold, 1 otherwise, 2 when the brain cannot be run.
"""

import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NEAR = range(7, 13)
MIDDLE = range(5, 15)


def begin_answer(brain, turn_ms):
    commands = f"START 20\nINFO timeout_turn {turn_ms}\nBEGIN\nEND\n"
    done = subprocess.run([brain], input=commands, capture_output=True, text=True,
                          timeout=30 + turn_ms / 1000)
    lines = [line.strip() for line in done.stdout.splitlines() if line.strip()]
    if len(lines) < 2 or lines[0] != "OK":
        raise RuntimeError(f"unexpected answers {lines!r}")
    x, y = (int(v) for v in lines[1].split(","))
    return x, y


def self_play_board(brain, match, turn_ms):
    done = subprocess.run([match, "--games", "1", "--turn", str(turn_ms), brain, brain],
                          capture_output=True, text=True, timeout=3600)
    lines = done.stdout.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("Game 1:"))
    board = [line[3:].split() for line in lines[start + 2:start + 22]]
    return lines[start], board


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("brain", nargs="?", default=os.path.join(ROOT, "build/release/bin/pbrain-quoribo"))
    p.add_argument("--turn", type=int, default=1000)
    p.add_argument("--bin", default=os.path.join(ROOT, "build/release/bin"))
    args = p.parse_args()
    try:
        x, y = begin_answer(args.brain, args.turn)
        header, board = self_play_board(args.brain, os.path.join(args.bin, "quoribo-match"),
                                        args.turn)
    except (OSError, RuntimeError, ValueError, StopIteration, subprocess.SubprocessError) as err:
        print(f"error: {err}")
        return 2
    centred = x in NEAR and y in NEAR
    print(f"BEGIN on an empty board: {x},{y} ({'within' if centred else 'NOT within'} two cells "
          "of the centre)")
    stones = [(r, c) for r, row in enumerate(board) for c, cell in enumerate(row) if cell != "."]
    rows = [r for r, _ in stones]
    cols = [c for _, c in stones]
    inside = sum(1 for r, c in stones if r in MIDDLE and c in MIDDLE)
    print(header)
    print("\n".join(" ".join(row) for row in board))
    share = inside / max(1, len(stones))
    print(f"{len(stones)} stones on rows {min(rows)}..{max(rows)}, columns {min(cols)}..{max(cols)};"
          f" {inside} ({share * 100:.0f}%) inside the central 10 x 10")
    return 0 if centred and share >= 0.9 else 1


if __name__ == "__main__":
    sys.exit(main())
