#!/usr/bin/env python3
"""Plays the brain through the protocol and measures what a manager sees.

Usage: measure_brain.py BRAIN_DIR [--turn MS] [--moves N] [--seed S] [--fast-moves N]
                        [--wine WINE]

BRAIN_DIR holds pbrain-quoribo and the network.bin it reads; with --wine,
pbrain-quoribo.exe, run by that Wine loader (e.g. /usr/lib/wine/wine64), whose
peak memory then includes Wine's own. Reports:
- the time from starting the process to its answer to ABOUT (under Wine this
  includes Wine's own start), then START time (player creation and network
  load);
- per-move answer time of a real game with INFO timeout_turn MS and ample
  match time, measured from sending TURN to receiving the answer (max and
  median), and whether every answer was a legal move within MS;
- the same with timeout_turn 0 (one batch of simulations per move);
- the brain's peak resident memory (VmHWM) over the whole run.
The opponent plays random legal moves near the last stones, seeded.
"""

import argparse
import os
import random
import statistics
import subprocess
import sys
import time

SIZE = 20


class Brain:
    def __init__(self, directory, wine=None):
        # The brain runs in its own directory, so the path must not be relative
        # to ours. Under Wine it is spoken to with Windows line ends.
        directory = os.path.abspath(directory)
        if wine:
            command = [wine, os.path.join(directory, "pbrain-quoribo.exe")]
        else:
            command = [os.path.join(directory, "pbrain-quoribo")]
        self.line_end = "\r\n" if wine else "\n"
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     cwd=directory, bufsize=0)

    def send(self, line):
        self.proc.stdin.write((line + self.line_end).encode())
        self.proc.stdin.flush()

    def ask(self, line):
        start = time.monotonic()
        self.send(line)
        answer = self.proc.stdout.readline().decode().strip()
        return answer, (time.monotonic() - start) * 1000.0

    def peak_memory_kb(self):
        with open("/proc/%d/status" % self.proc.pid) as status:
            for row in status:
                if row.startswith("VmHWM:"):
                    return int(row.split()[1])
        return -1

    def close(self):
        self.send("END")
        self.proc.wait(timeout=30)


def five_through(board, x, y):
    side = board[x][y]
    for dx, dy in ((1, 0), (0, 1), (1, 1), (1, -1)):
        run = 1
        for sgn in (1, -1):
            k = 1
            while True:
                r, c = x + sgn * k * dx, y + sgn * k * dy
                if not (0 <= r < SIZE and 0 <= c < SIZE) or board[r][c] != side:
                    break
                run += 1
                k += 1
        if run >= 5:
            return True
    return False


def opponent_move(board, rng, last):
    # Near the last stones, so games last and stay tactical enough.
    empty = [(r, c) for r in range(SIZE) for c in range(SIZE) if board[r][c] == 0]
    if last:
        lx, ly = last
        near = [(r, c) for (r, c) in empty if abs(r - lx) <= 2 and abs(c - ly) <= 2]
        if near:
            return rng.choice(near)
    return rng.choice(empty) if empty else None


def play(brain, moves, turn_ms, rng, label):
    """Plays games until `moves` engine answers were timed; returns the times."""
    times, illegal, late = [], 0, 0
    while len(times) < moves:
        answer, _ = brain.ask("RESTART")
        if answer != "OK":
            print("RESTART answered %r" % answer)
            return times, illegal + 1, late
        board = [[0] * SIZE for _ in range(SIZE)]
        last = (SIZE // 2, SIZE // 2)
        while len(times) < moves:
            ox, oy = opponent_move(board, rng, last)
            board[ox][oy] = 1
            if five_through(board, ox, oy):
                break
            answer, took = brain.ask("TURN %d,%d" % (ox, oy))
            times.append(took)
            try:
                x, y = (int(v) for v in answer.split(","))
            except ValueError:
                x, y = -1, -1
            if not (0 <= x < SIZE and 0 <= y < SIZE) or board[x][y] != 0:
                illegal += 1
                print("%s: illegal answer %r" % (label, answer))
                break
            if turn_ms > 0 and took > turn_ms:
                late += 1
            board[x][y] = -1
            last = (x, y)
            if five_through(board, x, y):
                break
            if all(board[r][c] for r in range(SIZE) for c in range(SIZE)):
                break
    return times, illegal, late


def summary(label, times, illegal, late, limit):
    print("%s: %d moves, max %.0f ms, median %.0f ms, mean %.0f ms, illegal %d, over %s ms: %d"
          % (label, len(times), max(times), statistics.median(times), statistics.mean(times),
             illegal, limit, late))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("brain_dir")
    parser.add_argument("--turn", type=int, default=1000)
    parser.add_argument("--moves", type=int, default=100)
    parser.add_argument("--fast-moves", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--wine")
    args = parser.parse_args()
    rng = random.Random(args.seed)

    started = time.monotonic()
    brain = Brain(args.brain_dir, args.wine)
    answer, _ = brain.ask("ABOUT")
    print("first answer (ABOUT) %.0f ms after the process started"
          % ((time.monotonic() - started) * 1000.0))
    brain.send("INFO timeout_match 0")
    brain.send("INFO time_left 2147483647")
    brain.send("INFO timeout_turn %d" % args.turn)
    answer, took = brain.ask("START 20")
    print("START: %r in %.0f ms" % (answer, took))
    if answer != "OK":
        brain.close()
        return 1

    times, illegal, late = play(brain, args.moves, args.turn, rng, "timeout_turn %d" % args.turn)
    summary("timeout_turn %d" % args.turn, times, illegal, late, args.turn)

    brain.send("INFO timeout_turn 0")
    fast, fast_illegal, _ = play(brain, args.fast_moves, 0, rng, "timeout_turn 0")
    summary("timeout_turn 0", fast, fast_illegal, 0, "-")

    print("peak resident memory (VmHWM): %.1f MB" % (brain.peak_memory_kb() / 1024.0))
    brain.close()
    return 0 if illegal == 0 and late == 0 and fast_illegal == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
