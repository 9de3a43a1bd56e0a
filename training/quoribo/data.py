"""Teacher-game training records and the 8 board symmetries.

A record file is a plain sequence of fixed-size records (see
tools/quoribo-teachergen/FORMAT.md), each one position from the view of the
side to move, 404 bytes little-endian: the board's cells row-major as int8
(1 own stone, -1 opponent's, 0 empty), the move the teacher played there as
an int16 cell index row * 20 + col, the game's result for the side to move
as an int8 (0 loss, 1 draw, 2 win) and the side to move's colour as an int8
(1 moved first, -1 second; not used for training).
"""

import glob

import numpy as np
import torch

BOARD_SIZE = 20
CELLS = BOARD_SIZE * BOARD_SIZE

RECORD = np.dtype([("cells", "i1", (CELLS,)), ("move", "<i2"), ("result", "i1"),
                   ("colour", "i1")])


def expand_paths(patterns):
    """Files named by a list of paths or glob patterns, in a stable order."""
    paths = []
    for pattern in patterns:
        found = sorted(glob.glob(pattern))
        if not found:
            raise ValueError(f"no data file matches {pattern!r}")
        paths += found
    return paths


def validate(records, source):
    """Raises ValueError on records no game could produce."""
    cells = records["cells"]
    bad = ~((cells >= -1) & (cells <= 1)).all(axis=1)
    moves = records["move"].astype(np.int64)
    bad |= (moves < 0) | (moves >= CELLS)
    bad |= ~np.isin(records["result"], (0, 1, 2))
    bad |= ~np.isin(records["colour"], (1, -1))
    ok = ~bad
    target = cells[np.flatnonzero(ok), moves[ok]]
    bad[np.flatnonzero(ok)[target != 0]] = True
    if bad.any():
        first = int(np.flatnonzero(bad)[0])
        raise ValueError(f"{source}: {int(bad.sum())} malformed records, "
                         f"the first at index {first}")


def load_records(paths):
    """All records of the given files, checked, as one structured array."""
    chunks = []
    for path in paths:
        raw = np.fromfile(path, dtype=np.uint8)
        if raw.size % RECORD.itemsize:
            raise ValueError(f"{path}: size {raw.size} is not a multiple of the "
                             f"{RECORD.itemsize}-byte record")
        records = raw.view(RECORD)
        validate(records, path)
        chunks.append(records)
    if not chunks or sum(len(c) for c in chunks) == 0:
        raise ValueError("no training records")
    return np.concatenate(chunks)


class Dataset:
    """Records as tensors: boards (R, N*N) int8, moves (R,) int64, value
    targets (R,) float (0, 0.5, 1)."""

    def __init__(self, records):
        self.boards = torch.from_numpy(np.ascontiguousarray(records["cells"]))
        self.moves = torch.from_numpy(records["move"].astype(np.int64))
        self.values = torch.from_numpy(records["result"].astype(np.float32) / 2.0)
        # Target sets from tactical labels (labels.apply): packed rows and
        # whether a row has one.
        self.targets = None
        self.has_targets = None

    def __len__(self):
        return len(self.moves)

    def split(self, held_out_fraction):
        """(training, held-out): the held-out part is the tail of the data, so
        that with records stored game by game it shares at most one game with
        the training part."""
        held = int(round(len(self) * held_out_fraction))
        if held_out_fraction > 0 and held == 0 and len(self) > 1:
            held = 1
        cut = len(self) - held
        return self.subset(slice(0, cut)), self.subset(slice(cut, None))

    def subset(self, index):
        part = Dataset.__new__(Dataset)
        part.boards = self.boards[index]
        part.moves = self.moves[index]
        part.values = self.values[index]
        part.targets = None if self.targets is None else self.targets[index]
        part.has_targets = None if self.has_targets is None else self.has_targets[index]
        return part


def symmetry_tables(n=BOARD_SIZE):
    """(gather, scatter) index tables of shape (8, n*n) for the dihedral group.

    Transform t rotates the board t % 4 quarter turns and then, for t >= 4,
    mirrors it left to right. The transformed board is
    board[..., gather[t]]; the cell a move at index m lands on is
    scatter[t][m]. Transform 0 is the identity."""
    grid = np.arange(n * n).reshape(n, n)
    gather = []
    for t in range(8):
        g = np.rot90(grid, t % 4)
        if t >= 4:
            g = np.fliplr(g)
        gather.append(g.ravel())
    gather = np.stack(gather)
    scatter = np.empty_like(gather)
    for t in range(8):
        scatter[t, gather[t]] = np.arange(n * n)
    return torch.from_numpy(gather), torch.from_numpy(scatter)


class Augmenter:
    """Applies one random symmetry per position, the same to board and move."""

    def __init__(self, n=BOARD_SIZE):
        self.gather, self.scatter = symmetry_tables(n)

    def apply(self, boards, moves, transforms):
        """boards (R, N*N), moves (R,), transforms (R,) in 0..7."""
        boards = torch.gather(boards, 1, self.gather[transforms])
        moves = self.scatter[transforms, moves]
        return boards, moves

    def random(self, boards, moves, generator=None):
        transforms = torch.randint(0, 8, (len(moves),), generator=generator)
        return self.apply(boards, moves, transforms)
