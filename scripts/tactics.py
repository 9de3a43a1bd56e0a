#!/usr/bin/python3
"""Tactical test suite: asks the brain for its move in tactical positions.

Usage: tactics.py [BRAIN] [--turn MS] [--groups G1,G2,...] [--positions FILE]
                  [--sample K] [--min-score PCT] [--check]

Two suites: tests/tactics/positions.txt (default; hand-made one-move tactics,
groups five, block, openfour) and tests/tactics/suite.txt (positions from
teacher and self-play games verified by the solver, groups five, block,
vcf-short, vcf-long, defend; made and re-verified by quoribo-suite).

BRAIN is the brain executable (default build/release/bin/pbrain-quoribo, with
its network.bin beside it). The brain is started once and driven through the
protocol: START 20, INFO timeout_turn MS, INFO timeout_match 0, INFO time_left
2147483647, then one BOARD ... DONE per position. Each answer "r,c" is scored
against the position's list of correct moves. Prints the result of every
group, the total percentage and the time per move. --sample K asks only K
positions of each group, spread over the file; --min-score makes the exit
status 3 when a group scores below PCT percent.

--check only verifies the positions file (no brain): stone counts match the
side to move, nobody has five yet, and the listed answers are exactly the
correct moves of the group (see tests/tactics/positions.txt for the format).
For the solver's groups it checks what the rules alone decide (stone counts,
no five on either side); `quoribo-suite check` verifies their answers.

Exit status: 0 after scoring (at least --min-score); 1 when the brain fails
(does not start, crashes, or gives no answer in time); 2 for a bad positions
file or bad arguments; 3 when a group scores below --min-score.
"""

import argparse
import os
import select
import subprocess
import sys
import time

SIZE = 20
GROUPS = ("five", "block", "openfour", "vcf-short", "vcf-long", "defend")
# Groups whose answers need the threat-space solver to verify.
SOLVER_GROUPS = ("vcf-short", "vcf-long", "defend")
DIRECTIONS = ((0, 1), (1, 0), (1, 1), (1, -1))
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Position:
    def __init__(self, group, name, side, board, answers):
        self.group = group
        self.name = name
        self.side = side  # 'X' or 'O'
        self.board = board  # list of 20 lists of '.', 'X', 'O'
        self.answers = answers  # set of (row, col)


def parse_positions(path):
    """The positions of the file; raises ValueError on a malformed file."""
    with open(path) as source:
        lines = [(n + 1, raw.rstrip("\n")) for n, raw in enumerate(source)]
    lines = [(n, text) for n, text in lines if text.strip() and not text.startswith("#")]
    positions = []
    i = 0
    while i < len(lines):
        n, header = lines[i]
        fields = header.split()
        if len(fields) != 3 or fields[0] not in GROUPS or fields[2] not in ("X", "O"):
            raise ValueError("line %d: expected '<group> <name> X|O', got %r" % (n, header))
        if i + SIZE + 1 >= len(lines):
            raise ValueError("line %d: position %s is cut short" % (n, fields[1]))
        board = []
        for k in range(SIZE):
            rn, row = lines[i + 1 + k]
            if len(row) != SIZE or any(ch not in ".XO" for ch in row):
                raise ValueError("line %d: a board line has 20 of '.', 'X', 'O'" % rn)
            board.append(list(row))
        an, answer_line = lines[i + 1 + SIZE]
        words = answer_line.split()
        if not words or words[0] != "answers" or len(words) < 2:
            raise ValueError("line %d: expected 'answers r,c ...'" % an)
        answers = set()
        for word in words[1:]:
            parts = word.split(",")
            if len(parts) != 2 or not all(p.isdigit() for p in parts):
                raise ValueError("line %d: bad answer %r" % (an, word))
            r, c = int(parts[0]), int(parts[1])
            if r >= SIZE or c >= SIZE:
                raise ValueError("line %d: answer %r is off the board" % (an, word))
            answers.add((r, c))
        positions.append(Position(fields[0], fields[1], fields[2], board, answers))
        i += SIZE + 2
    return positions


# ---- rules, independent of the engine -------------------------------------

def run_length(board, r, c, dr, dc, side):
    """Stones of side through (r, c) along (dr, dc), counting (r, c) itself."""
    total = 1
    for sign in (1, -1):
        rr, cc = r + sign * dr, c + sign * dc
        while 0 <= rr < SIZE and 0 <= cc < SIZE and board[rr][cc] == side:
            total += 1
            rr += sign * dr
            cc += sign * dc
    return total


def makes_five(board, r, c, side):
    return board[r][c] == "." and any(
        run_length(board, r, c, dr, dc, side) >= 5 for dr, dc in DIRECTIONS)


def five_cells(board, side):
    return {(r, c) for r in range(SIZE) for c in range(SIZE) if makes_five(board, r, c, side)}


def has_five(board):
    for r in range(SIZE):
        for c in range(SIZE):
            side = board[r][c]
            if side != "." and any(
                    run_length(board, r, c, dr, dc, side) >= 5 for dr, dc in DIRECTIONS):
                return True
    return False


def empty(board, r, c):
    return 0 <= r < SIZE and 0 <= c < SIZE and board[r][c] == "."


def makes_open_four(board, r, c, side):
    """True when a stone of side on (r, c) makes exactly four in a row with
    both neighbouring cells of the row empty."""
    if board[r][c] != ".":
        return False
    board[r][c] = side
    found = False
    for dr, dc in DIRECTIONS:
        ends = []
        for sign in (1, -1):
            rr, cc = r, c
            while (0 <= rr + sign * dr < SIZE and 0 <= cc + sign * dc < SIZE
                   and board[rr + sign * dr][cc + sign * dc] == side):
                rr += sign * dr
                cc += sign * dc
            ends.append((rr + sign * dr, cc + sign * dc))
        if (run_length(board, r, c, dr, dc, side) == 4
                and all(empty(board, er, ec) for er, ec in ends)):
            found = True
    board[r][c] = "."
    return found


def double_threat_cells(board, side):
    """Cells after which side has two or more cells completing five."""
    cells = set()
    for r in range(SIZE):
        for c in range(SIZE):
            if board[r][c] != ".":
                continue
            board[r][c] = side
            if len(five_cells(board, side)) >= 2:
                cells.add((r, c))
            board[r][c] = "."
    return cells


def fmt(cells):
    return " ".join("%d,%d" % cell for cell in sorted(cells)) or "none"


def check_position(p):
    """The faults of a position, as a list of texts."""
    faults = []
    mover = p.side
    other = "O" if mover == "X" else "X"
    crosses = sum(row.count("X") for row in p.board)
    circles = sum(row.count("O") for row in p.board)
    if crosses - circles != (0 if mover == "X" else 1):
        faults.append("%d X and %d O stones do not fit %s to move" % (crosses, circles, mover))
    if has_five(p.board):
        faults.append("a five is already on the board")
    for r, c in p.answers:
        if p.board[r][c] != ".":
            faults.append("answer %d,%d is not empty" % (r, c))
    own = five_cells(p.board, mover)
    theirs = five_cells(p.board, other)
    if p.group == "five":
        if p.answers != own:
            faults.append("answers %s, but the fives are %s" % (fmt(p.answers), fmt(own)))
    elif p.group in SOLVER_GROUPS:
        if own or theirs:
            faults.append("a side has a four (fives at %s)" % fmt(own | theirs))
    elif p.group == "block":
        if own:
            faults.append("the mover has a five at %s" % fmt(own))
        if len(theirs) != 1 or p.answers != theirs:
            faults.append("answers %s, but the opponent completes five at %s"
                          % (fmt(p.answers), fmt(theirs)))
    else:
        if own:
            faults.append("the mover has a five at %s" % fmt(own))
        if theirs:
            faults.append("the opponent has a four (five at %s)" % fmt(theirs))
        open_fours = {(r, c) for r in range(SIZE) for c in range(SIZE)
                      if makes_open_four(p.board, r, c, mover)}
        if p.answers != open_fours:
            faults.append("answers %s, but open fours are made at %s"
                          % (fmt(p.answers), fmt(open_fours)))
        winning = double_threat_cells(p.board, mover)
        if winning != open_fours:
            faults.append("two winning cells also follow %s" % fmt(winning - open_fours))
    return faults


# ---- the brain -------------------------------------------------------------

class BrainFailure(Exception):
    pass


class Brain:
    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     bufsize=0)
        self.pending = b""

    def send(self, lines):
        try:
            self.proc.stdin.write("".join(line + "\n" for line in lines).encode())
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError):
            raise BrainFailure("the brain stopped reading its input (exit status %s)"
                               % self.proc.poll())

    def read_line(self, timeout_s):
        deadline = time.monotonic() + timeout_s
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0:
                raise BrainFailure("no answer within %.1f s" % timeout_s)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if not ready:
                continue
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise BrainFailure("the brain ended (exit status %s)" % self.proc.wait())
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode(errors="replace").strip()

    def answer(self, timeout_s):
        """The next line that is not a MESSAGE or DEBUG line."""
        while True:
            line = self.read_line(timeout_s)
            if not line.startswith(("MESSAGE", "DEBUG")):
                return line

    def close(self):
        try:
            self.send(["END"])
            self.proc.wait(timeout=10)
        except (BrainFailure, subprocess.TimeoutExpired):
            self.proc.kill()
            self.proc.wait()


def board_lines(p):
    """BOARD stone lines: alternately CROSS and CIRCLE, starting with CROSS;
    the brain's stones (the side to move) get field 1, the others field 2."""
    stones = {side: [(r, c) for r in range(SIZE) for c in range(SIZE) if p.board[r][c] == side]
              for side in "XO"}
    order = []
    for k in range(len(stones["X"])):
        order.append(("X",) + stones["X"][k])
        if k < len(stones["O"]):
            order.append(("O",) + stones["O"][k])
    return ["%d,%d,%d" % (r, c, 1 if side == p.side else 2) for side, r, c in order]


def parse_move(text):
    parts = text.split(",")
    if len(parts) != 2:
        return None
    try:
        return int(parts[0]), int(parts[1])
    except ValueError:
        return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("brain", nargs="?",
                        default=os.path.join(ROOT, "build/release/bin/pbrain-quoribo"))
    parser.add_argument("--turn", type=int, default=1000, help="timeout_turn in ms")
    parser.add_argument("--groups", help="comma-separated (default: every group of the file)")
    parser.add_argument("--positions", default=os.path.join(ROOT, "tests/tactics/positions.txt"))
    parser.add_argument("--sample", type=int, default=0, help="positions per group (0: all)")
    parser.add_argument("--min-score", type=float, default=0.0, help="percent every group needs")
    parser.add_argument("--check", action="store_true", help="only verify the positions")
    args = parser.parse_args()

    try:
        positions = parse_positions(args.positions)
    except (OSError, ValueError) as error:
        print("positions: %s" % error)
        return 2
    present = [g for g in GROUPS if any(p.group == g for p in positions)]
    groups = [g for g in args.groups.split(",") if g] if args.groups else present
    if any(g not in GROUPS for g in groups) or args.turn < 0 or args.sample < 0:
        parser.error("groups are %s; --turn and --sample are not negative" % ",".join(GROUPS))

    bad = 0
    for p in positions:
        for fault in check_position(p):
            print("%s %s: %s" % (p.group, p.name, fault))
            bad += 1
    if bad:
        print("%d faults in %s" % (bad, args.positions))
        return 2
    if args.check:
        counts = {g: sum(1 for p in positions if p.group == g) for g in present}
        print("%d positions verified (%s)"
              % (len(positions), ", ".join("%s %d" % (g, counts[g]) for g in present)))
        return 0

    selected = []
    for g in groups:
        members = [p for p in positions if p.group == g]
        if args.sample and len(members) > args.sample:
            members = [members[k * len(members) // args.sample] for k in range(args.sample)]
        selected += members
    # The brain may overrun its limit a little; a hang still ends the run.
    answer_timeout_s = args.turn / 1000.0 * 3 + 30
    try:
        brain = Brain(args.brain)
    except OSError as error:
        print("cannot start %s: %s" % (args.brain, error))
        return 1
    results = {g: [0, 0] for g in groups}
    times = []
    try:
        brain.send(["START %d" % SIZE])
        started = brain.answer(60)
        if started != "OK":
            raise BrainFailure("START answered %r" % started)
        brain.send(["INFO timeout_turn %d" % args.turn, "INFO timeout_match 0",
                    "INFO time_left 2147483647"])
        for p in selected:
            begin = time.monotonic()
            brain.send(["BOARD"] + board_lines(p) + ["DONE"])
            text = brain.answer(answer_timeout_s)
            times.append((time.monotonic() - begin) * 1000.0)
            move = parse_move(text)
            results[p.group][1] += 1
            if move in p.answers:
                results[p.group][0] += 1
            else:
                print("  wrong  %-9s %-42s answered %-7s expected %s"
                      % (p.group, p.name, text, fmt(p.answers)))
    except BrainFailure as error:
        print("brain failure: %s" % error)
        brain.proc.kill()
        brain.proc.wait()
        return 1
    brain.close()

    low = [g for g in groups if results[g][1] and results[g][0] * 100.0 < args.min_score * results[g][1]]
    right = sum(r for r, _ in results.values())
    total = sum(t for _, t in results.values())
    for g in groups:
        r, t = results[g]
        print("%-10s %3d / %3d  %5.1f%%" % (g, r, t, 100.0 * r / t if t else 0.0))
    print("total      %3d / %3d  %5.1f%%" % (right, total, 100.0 * right / total if total else 0.0))
    if times:
        print("time per move: mean %.0f ms, max %.0f ms (timeout_turn %d ms)"
              % (sum(times) / len(times), max(times), args.turn))
    if low:
        print("below %.0f%%: %s" % (args.min_score, ",".join(low)))
        return 3
    return 0


if __name__ == "__main__":
    sys.exit(main())
