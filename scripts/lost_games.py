#!/usr/bin/python3
"""Where did a brain lose? Reads a `quoribo-match --verbose` log and, for each
game BRAIN lost, runs the threat-space solver (quoribo-solve) on every
position where BRAIN was to move: its own VCF, the opponent's VCF and its
refutations. A move that leaves an own VCF unplayed, or that is no
refutation of a refutable VCF, is marked.

Usage: lost_games.py MATCH_LOG [--brain NAME] [--bin DIR] [--nodes N]
"""

import argparse
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MOVE = re.compile(r"\s+game (\d+) move (\d+): (\S+) (\d+),(\d+)")
RESULT = re.compile(r"Game (\d+): X=(\S+) O=(\S+), (\S+) wins")


def read_games(lines):
    """(game, X, O, winner, moves, final stones) per game of the log; the
    opening stones are the final board's stones that no move placed."""
    games, moves = [], []
    for i, line in enumerate(lines):
        m = MOVE.match(line)
        if m:
            moves.append((m.group(3), int(m.group(4)), int(m.group(5))))
            continue
        m = RESULT.match(line)
        if m:
            stones = {}
            for r, row in enumerate(lines[i + 2:i + 22]):
                for c, mark in enumerate(row.split()[1:]):
                    if mark in ("X", "O"):
                        stones[(r, c)] = mark.lower()
            games.append((int(m.group(1)), m.group(2), m.group(3), m.group(4), moves, stones))
            moves = []
    return games


def positions_to_move(brain, x_name, o_name, moves, stones):
    colour = {x_name: "x", o_name: "o"}
    placed = {(a, b) for _, a, b in moves}
    board = {k: v for k, v in stones.items() if k not in placed}
    for who, a, b in moves:
        if who == brain:
            text = "".join(board.get((r, c), ".") for r in range(20) for c in range(20))
            yield (a, b), text + " " + colour[who]
        board[(a, b)] = colour[who]


def verdict(move, answer):
    own, _, rest = answer.partition(";")
    if "vcf win" in own:
        return "own VCF not played" if f"{move[0]},{move[1]}" not in own else ""
    if "refutations:" in rest and "refutations: none" not in rest:
        refutations = re.findall(r"\d+,\d+", rest.split("refutations:")[1])
        if f"{move[0]},{move[1]}" not in refutations:
            return "not a refutation"
    return ""


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("log")
    p.add_argument("--brain", default="pbrain-quoribo")
    p.add_argument("--bin", default=os.path.join(ROOT, "build", "release", "bin"))
    p.add_argument("--nodes", type=int, default=200000)
    args = p.parse_args()
    with open(args.log) as src:
        games = read_games(src.read().splitlines())
    lost = [g for g in games if args.brain in (g[1], g[2]) and g[3] != args.brain]
    print(f"{len(games)} games, {len(lost)} lost by {args.brain}")
    for number, x_name, o_name, _, moves, stones in lost:
        side = "X" if x_name == args.brain else "O"
        queries = list(positions_to_move(args.brain, x_name, o_name, moves, stones))
        done = subprocess.run([os.path.join(args.bin, "quoribo-solve"), "--nodes", str(args.nodes),
                               "-"], input="".join(q[1] + "\n" for q in queries),
                              capture_output=True, text=True, check=True)
        answers = [a.split(": ", 1)[1] for a in done.stdout.splitlines()]
        print(f"game {number}: {args.brain} played {side}, {len(moves)} moves after the opening")
        for (move, _), answer in zip(queries, answers):
            if "vcf win" in answer or "opponent vcf in" in answer:
                mark = verdict(move, answer)
                print(f"  played {move[0]},{move[1]}: {answer}" + (f"  <-- {mark}" if mark else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
