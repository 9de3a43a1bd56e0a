"""The PyTorch network against the engine's reference float pass, through
quoribo-eval, on random tiny networks and random positions."""

import os
import unittest

import numpy as np
import torch

import support
from quoribo import weights
from quoribo.model import encode_planes

TOLERANCE = 1e-4


def torch_outputs(model, boards, sides):
    """Values and masked policies, in double precision so that the only
    differences left are the engine's float roundings."""
    model = model.double()
    boards = torch.from_numpy(np.stack(boards))
    planes = encode_planes(boards, torch.tensor(sides)).double()
    with torch.no_grad():
        value, policy = model.evaluate(planes, boards.reshape(len(sides), -1) != 0)
    return value.numpy(), policy.numpy()


def engine_outputs(network_path, lines, test):
    positions = os.path.join(support.scratch_dir(test), "positions.txt")
    with open(positions, "w") as out:
        out.write("\n".join(lines) + "\n")
    done = support.run_tool([network_path, positions])
    test.assertEqual(done.returncode, 0, done.stderr)
    out = done.stdout.split("\n")
    values, policies = [], []
    for i in range(len(lines)):
        label, value = out[2 * i].split()
        test.assertEqual(label, "value")
        values.append(float(value))
        policies.append([float(x) for x in out[2 * i + 1].split()])
    return np.array(values), np.array(policies)


def test_positions(seed, count):
    rng = np.random.default_rng(seed)
    boards = [np.zeros((20, 20), np.int8)]
    boards += [support.random_board(rng) for _ in range(count - 3)]
    boards.append(support.random_board(rng, fill=0.99))
    full = np.where(rng.random((20, 20)) < 0.5, 1, -1).astype(np.int8)
    boards.append(full)
    sides = [int(s) for s in rng.choice((1, -1), size=count)]
    return boards, sides


@unittest.skipUnless(support.eval_tool(), support.missing_tool_message())
class EngineEquivalenceTest(unittest.TestCase):
    def check_network(self, model, seed):
        network = os.path.join(support.scratch_dir(self), "network.bin")
        weights.export(model, network)
        # The file holds the weights truncated to 2^-25 steps: compare with
        # what the engine actually loaded.
        model = weights.load(network)
        boards, sides = test_positions(seed, 24)
        lines = [support.position_line(b, s) for b, s in zip(boards, sides)]
        want_values, want_policies = torch_outputs(model, boards, sides)
        got_values, got_policies = engine_outputs(network, lines, self)
        self.assertEqual(got_policies.shape, (len(lines), 400))
        np.testing.assert_allclose(got_values, want_values, rtol=0, atol=TOLERANCE)
        np.testing.assert_allclose(got_policies, want_policies, rtol=0, atol=TOLERANCE)
        # The comparison means something only if the outputs vary.
        self.assertGreater(np.ptp(want_values), 1e-3)
        self.assertGreater(want_policies.max(), 2.0 / 400)

    def test_random_tiny_networks(self):
        for seed in (1, 2, 3):
            with self.subTest(seed=seed):
                self.check_network(support.random_network(seed), seed)

    def test_sharper_network(self):
        # Larger weights give confident policies and values far from 0.5,
        # where a wrongly placed weight or plane shows at once.
        model = support.random_network(4)
        with torch.no_grad():
            model.policy_vector.weight.mul_(4)
            model.value_out.weight.mul_(4)
        self.check_network(model, 4)

    def test_fast_kernels_agree_with_the_reference_pass(self):
        network = os.path.join(support.scratch_dir(self), "network.bin")
        weights.export(support.random_network(7), network)
        boards, sides = test_positions(7, 8)
        text = "\n".join(support.position_line(b, s) for b, s in zip(boards, sides))
        reference, fast = (support.run_tool(flags + [network], text) for flags in ([], ["--fast"]))
        self.assertEqual((reference.returncode, fast.returncode), (0, 0), fast.stderr)
        ref_numbers = [float(x) for x in reference.stdout.split() if x != "value"]
        fast_numbers = [float(x) for x in fast.stdout.split() if x != "value"]
        np.testing.assert_allclose(fast_numbers, ref_numbers, rtol=0, atol=TOLERANCE)


@unittest.skipUnless(support.eval_tool(), support.missing_tool_message())
class EvalToolInputTest(unittest.TestCase):
    def setUp(self):
        self.dir = support.scratch_dir(self)
        self.network = os.path.join(self.dir, "network.bin")
        weights.export(support.random_network(6), self.network)
        self.empty = support.position_line(np.zeros((20, 20), np.int8), 1)

    def test_reads_standard_input_skipping_blank_lines_and_crlf(self):
        done = support.run_tool([self.network, "-"], "\n" + self.empty + "\r\n\n" + self.empty)
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(len(lines), 4)
        self.assertEqual(lines[0], lines[2])

    def test_bad_positions_are_reported_with_their_line(self):
        cases = {
            "short": self.empty[:-3] + " x",
            "bad cell": "z" + self.empty[1:],
            "bad side": self.empty[:-1] + "y",
            "no space": self.empty[:400] + "xx",
        }
        for name, bad in cases.items():
            with self.subTest(case=name):
                done = support.run_tool([self.network], self.empty + "\n" + bad + "\n")
                self.assertNotEqual(done.returncode, 0)
                self.assertIn("<stdin>:2:", done.stderr)
                self.assertEqual(len(done.stdout.splitlines()), 2)

    def test_unusable_files_and_arguments(self):
        truncated = os.path.join(self.dir, "short.bin")
        with open(self.network, "rb") as src, open(truncated, "wb") as out:
            out.write(src.read()[:-4])
        for args in ([truncated], [os.path.join(self.dir, "missing.bin")],
                     [self.network, os.path.join(self.dir, "missing.txt")], [],
                     ["--bogus", self.network]):
            with self.subTest(args=args):
                done = support.run_tool(args, self.empty)
                self.assertNotEqual(done.returncode, 0)
                self.assertTrue(done.stderr.startswith("quoribo-eval: "), done.stderr)
                self.assertEqual(done.stdout, "")

    def test_pretty_board_shows_stones_and_per_mille(self):
        board = np.zeros((20, 20), np.int8)
        board[3, 4], board[10, 10] = 1, -1
        done = support.run_tool(["--pretty", self.network], support.position_line(board, -1))
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertTrue(lines[0].startswith("side to move o, value "))
        rows = [line.split() for line in lines[2:22]]
        self.assertEqual([r[0] for r in rows], [str(i) for i in range(20)])
        self.assertEqual(rows[3][1 + 4], "X")
        self.assertEqual(rows[10][1 + 10], "O")
        shown = sum(int(x) for r in rows for x in r[1:] if x.isdigit())
        self.assertLess(abs(shown - 1000), 200)
        self.assertTrue(lines[22].startswith("best "))


if __name__ == "__main__":
    unittest.main()
