"""Self-play records (tools/quoribo-selfplay/FORMAT.md) as training positions.

A file holds whole games: the stones in order and, for every searched move,
the root's winning rate and (for a full search) the root's visit counts.
`read_games` decodes them; `positions` replays the games into one array per
field, every position seen from its side to move.
"""

import struct

import numpy as np

from .data import BOARD_SIZE, CELLS
from .labels import check_targets

MAGIC = b"QSP1"
VERSION = 1
HEADER_BYTES = 16


class Game:
    __slots__ = ("index", "opening", "winner", "moves", "full", "values", "visits")

    def __init__(self, index, opening, winner, moves, full, values, visits):
        self.index = index        # game number in its file
        self.opening = opening    # stones placed before the first search
        self.winner = winner      # 1 first mover, -1 second mover, 0 draw
        self.moves = moves        # cells row * 20 + col, opening first
        self.full = full          # per searched move: full search?
        self.values = values      # per searched move: root winning rate of the side to move
        self.visits = visits      # per searched move: [(cell, visits)], empty unless full


def read_header(raw, path):
    if len(raw) < HEADER_BYTES or raw[:4] != MAGIC:
        raise ValueError(f"{path}: not a self-play record file")
    version, size, _, seed = struct.unpack_from("<HBBQ", raw, 4)
    if version != VERSION or size != BOARD_SIZE:
        raise ValueError(f"{path}: version {version} for a {size}x{size} board is not readable")
    return seed


def read_games(path):
    """The complete games of a file, in order; a game cut short at the end
    (an interrupted run) is left out."""
    with open(path, "rb") as src:
        raw = src.read()
    read_header(raw, path)
    games, at = [], HEADER_BYTES
    while len(raw) - at >= 4:
        (length,) = struct.unpack_from("<I", raw, at)
        if len(raw) - at - 4 < length:
            break
        try:
            games.append(_decode(raw, at + 4, length, path))
        except struct.error:
            raise ValueError(f"{path}: game {len(games)} is malformed") from None
        at += 4 + length
    return games


def _decode(raw, at, length, path):
    end = at + length
    index, opening, winner, count = struct.unpack_from("<IBbH", raw, at)
    at += 8
    moves = list(struct.unpack_from(f"<{count}H", raw, at))
    at += 2 * count
    full, values, visits = [], [], []
    for _ in range(count - opening):
        flags, value = struct.unpack_from("<BH", raw, at)
        at += 3
        pairs = []
        if flags & 1:
            (n,) = struct.unpack_from("<H", raw, at)
            flat = struct.unpack_from(f"<{2 * n}H", raw, at + 2)
            pairs = list(zip(flat[0::2], flat[1::2]))
            at += 2 + 4 * n
        full.append(bool(flags & 1))
        values.append(value / 65535.0)
        visits.append(pairs)
    if at != end or not (opening <= count <= CELLS) or winner not in (-1, 0, 1) \
            or len(set(moves)) != count or max(moves, default=0) >= CELLS:
        raise ValueError(f"{path}: game {index} is malformed")
    return Game(index, opening, winner, moves, full, values, visits)


class Positions:
    """Searched positions of a list of games, one row each:
    boards (R, 400) int8: 1 side to move, -1 opponent, 0 empty;
    results (R,) float32: the game's result for the side to move (0, 0.5, 1);
    full (R,) bool: the move had a full search and its visits are a target;
    targets (F, 400) float32: visit shares of the full rows, in row order;
    target_row (R,) int64: row of `targets`, -1 for a fast search;
    moves (R,) int64: the move played; replies (R,) int64: the opponent's
    answer to it, -1 when the game ended; values (R,) float32: the search's
    root winning rate; game (R,) int64: index of the game in the list.

    Visit counts up to `prune_visits` are left out of the targets when a
    larger count exists: the search visits every untried move once when all
    tried ones look worse than an even game, which says nothing of them.

    With `labels` (one array of the solver's labels per game, a label per
    searched move; see labels.py) the rows also get label_kind (R,) uint8
    and label_targets (R, 50) uint8, the packed target cells; without them
    every row is of kind NONE."""

    def __init__(self, games, prune_visits=0, labels=None):
        boards, results, full, targets, target_row = [], [], [], [], []
        moves, replies, values, game_of = [], [], [], []
        for g, game in enumerate(games):
            board = np.zeros(CELLS, np.int8)   # 1 first mover, -1 second mover
            for ply, cell in enumerate(game.moves):
                colour = 1 if ply % 2 == 0 else -1
                k = ply - game.opening
                if k >= 0:
                    boards.append(board * colour)
                    results.append(0.5 if game.winner == 0 else float(game.winner == colour))
                    full.append(game.full[k])
                    if game.full[k] and game.visits[k]:
                        cells, counts = zip(*game.visits[k])
                        row = np.zeros(CELLS, np.float32)
                        row[list(cells)] = counts
                        if row.max() > prune_visits:
                            row[row <= prune_visits] = 0
                        targets.append(row / row.sum())
                        target_row.append(len(targets) - 1)
                    else:
                        full[-1] = False
                        target_row.append(-1)
                    moves.append(cell)
                    replies.append(game.moves[ply + 1] if ply + 1 < len(game.moves) else -1)
                    values.append(game.values[k])
                    game_of.append(g)
                board[cell] = colour
        self.boards = np.array(boards, np.int8).reshape(-1, CELLS)
        self.results = np.array(results, np.float32)
        self.full = np.array(full, bool)
        self.targets = np.array(targets, np.float32).reshape(-1, CELLS)
        self.target_row = np.array(target_row, np.int64)
        self.moves = np.array(moves, np.int64)
        self.replies = np.array(replies, np.int64)
        self.values = np.array(values, np.float32)
        self.game = np.array(game_of, np.int64)
        self.label_kind = np.zeros(len(self.results), np.uint8)
        self.label_targets = np.zeros((len(self.results), 50), np.uint8)
        if labels is not None:
            if len(labels) != len(games) or any(len(lab) != len(g.full)
                                                for lab, g in zip(labels, games)):
                raise ValueError("the labels do not match the games' searched moves")
            if len(self.results):
                joined = np.concatenate(labels)
                check_targets(joined, self.boards)
                self.label_kind = joined["kind"].copy()
                self.label_targets = np.ascontiguousarray(joined["targets"])

    def __len__(self):
        return len(self.results)
