import unittest

import numpy as np
import torch

import support
from quoribo.model import encode_planes


class InputPlanesTest(unittest.TestCase):
    def test_empty_board(self):
        planes = encode_planes(torch.zeros(1, 20, 20, dtype=torch.int8))
        self.assertEqual(planes.shape, (1, 3, 20, 20))
        self.assertEqual(float(planes[0, 2].min()), 1.0)
        self.assertEqual(float(planes[0, :2].abs().sum()), 0.0)

    def test_swapping_colours_and_side_gives_the_same_planes(self):
        rng = np.random.default_rng(1)
        board = torch.from_numpy(support.random_board(rng)).unsqueeze(0)
        for side in (1, -1):
            a = encode_planes(board, torch.tensor([side]))
            b = encode_planes(-board, torch.tensor([-side]))
            self.assertTrue(torch.equal(a, b))
            own = (board[0] == side).to(a.dtype)
            self.assertTrue(torch.equal(a[0, 0], own))
            self.assertEqual(float(a[0].sum()), 400.0)


class EvaluateTest(unittest.TestCase):
    def test_policy_covers_exactly_the_empty_cells(self):
        model = support.random_network(1)
        rng = np.random.default_rng(2)
        boards = torch.from_numpy(np.stack([support.random_board(rng) for _ in range(4)]))
        occupied = boards.reshape(4, -1) != 0
        value, policy = model.evaluate(encode_planes(boards), occupied)
        self.assertTrue(bool(((value > 0) & (value < 1)).all()))
        self.assertEqual(float(policy[occupied].abs().sum()), 0.0)
        self.assertTrue(torch.allclose(policy.sum(dim=1), torch.ones(4)))

    def test_full_board_gets_an_all_zero_policy(self):
        model = support.random_network(2)
        board = torch.from_numpy(np.where(np.arange(400) % 3 == 0, 1, -1).astype(np.int8))
        board = board.reshape(1, 20, 20)
        _, policy = model.evaluate(encode_planes(board), board.reshape(1, -1) != 0)
        self.assertEqual(float(policy.abs().sum()), 0.0)


if __name__ == "__main__":
    unittest.main()
