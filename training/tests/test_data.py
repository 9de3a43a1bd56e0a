import os
import unittest

import numpy as np
import torch

import support
from quoribo import data


def write_records(path, boards, moves, results):
    records = np.zeros(len(moves), dtype=data.RECORD)
    records["cells"] = np.asarray(boards).reshape(len(moves), -1)
    records["colour"] = 1
    records["move"] = moves
    records["result"] = results
    records.tofile(path)
    return records


class SymmetryTest(unittest.TestCase):
    N = 20

    def expected_cell(self, t, r, c):
        """Where (r, c) goes: t quarter turns counter-clockwise, then a mirror."""
        n = self.N
        for _ in range(t % 4):
            r, c = n - 1 - c, r
        if t >= 4:
            c = n - 1 - c
        return r, c

    def test_single_stone_lands_where_the_move_does_under_every_transform(self):
        aug = data.Augmenter(self.N)
        for r, c in ((0, 0), (2, 17), (19, 5), (9, 10)):
            cell = r * self.N + c
            board = torch.zeros(1, self.N * self.N, dtype=torch.int8)
            board[0, cell] = 1
            for t in range(8):
                with self.subTest(cell=(r, c), transform=t):
                    moved, move = aug.apply(board, torch.tensor([cell]), torch.tensor([t]))
                    stones = torch.nonzero(moved[0]).ravel().tolist()
                    self.assertEqual(stones, [int(move[0])])
                    self.assertEqual(divmod(int(move[0]), self.N), self.expected_cell(t, r, c))

    def test_transforms_are_the_eight_distinct_symmetries(self):
        gather, scatter = data.symmetry_tables(self.N)
        self.assertEqual(gather[0].tolist(), list(range(self.N * self.N)))
        images = set()
        for t in range(8):
            self.assertEqual(sorted(gather[t].tolist()), list(range(self.N * self.N)))
            self.assertEqual(scatter[t][gather[t]].tolist(), list(range(self.N * self.N)))
            images.add(tuple(scatter[t][[0, 1, self.N]].tolist()))
        self.assertEqual(len(images), 8)


class RecordFileTest(unittest.TestCase):
    def setUp(self):
        self.dir = support.scratch_dir(self)
        rng = np.random.default_rng(5)
        self.boards = np.stack([support.random_board(rng, fill=0.3) for _ in range(10)])
        self.moves = [int(np.flatnonzero(b.ravel() == 0)[i]) for i, b in enumerate(self.boards)]

    def test_reads_back_what_was_written(self):
        self.assertEqual(data.RECORD.itemsize, 404)
        path = os.path.join(self.dir, "a.bin")
        written = write_records(path, self.boards, self.moves, [0, 1, 2] * 3 + [2])
        got = data.load_records(data.expand_paths([os.path.join(self.dir, "*.bin")]))
        self.assertTrue(np.array_equal(got, written))
        dataset = data.Dataset(got)
        self.assertEqual(dataset.values[:3].tolist(), [0.0, 0.5, 1.0])
        train, held = dataset.split(0.2)
        self.assertEqual((len(train), len(held)), (8, 2))
        self.assertEqual(held.moves.tolist(), self.moves[8:])

    def test_rejects_bad_files(self):
        path = os.path.join(self.dir, "bad.bin")
        cases = {
            "truncated": lambda r: r.tobytes()[:-1],
            "cell value": lambda r: _edit(r, "cells", (3, 7), 2),
            "move off board": lambda r: _edit(r, "move", 4, 400),
            "move on a stone": lambda r: _edit(r, "move", 0, int(np.flatnonzero(r["cells"][0])[0])),
            "result": lambda r: _edit(r, "result", 9, 3),
            "colour": lambda r: _edit(r, "colour", 2, 0),
        }
        for name, corrupt in cases.items():
            with self.subTest(case=name):
                records = write_records(path, self.boards, self.moves, [1] * 10)
                with open(path, "wb") as out:
                    out.write(corrupt(records))
                with self.assertRaises(ValueError):
                    data.load_records([path])
        with self.assertRaises(ValueError):
            data.expand_paths([os.path.join(self.dir, "none-*.bin")])


def _edit(records, field, index, value):
    records[field][index] = value
    return records.tobytes()


if __name__ == "__main__":
    unittest.main()
