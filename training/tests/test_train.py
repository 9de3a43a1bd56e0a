import contextlib
import csv
import io
import os
import unittest

import numpy as np

import support
from quoribo import train, weights


def synthetic_records(path, count, seed):
    """Positions whose teacher move is the empty cell nearest the centre and
    whose result is a win exactly when the side to move has more stones: a
    pattern small networks pick up within a few dozen steps."""
    rng = np.random.default_rng(seed)
    records = np.zeros(count, dtype=train.data.RECORD)
    rows, cols = np.divmod(np.arange(400), 20)
    distance = (rows - 9.5) ** 2 + (cols - 9.5) ** 2 + rng.uniform(0, 1e-3, 400)
    for i in range(count):
        board = support.random_board(rng, fill=rng.uniform(0.05, 0.3)).ravel()
        records["cells"][i] = board
        records["colour"][i] = 1 - 2 * (i % 2)
        empty = np.flatnonzero(board == 0)
        records["move"][i] = empty[np.argmin(distance[empty])]
        records["result"][i] = 2 if (board == 1).sum() > (board == -1).sum() else 0
    records.tofile(path)


def read_rows(run_dir):
    with open(os.path.join(run_dir, "metrics.csv"), newline="") as src:
        return list(csv.DictReader(src))


def quiet_train(argv):
    with contextlib.redirect_stderr(io.StringIO()):
        return train.main(argv)


class TrainingTest(unittest.TestCase):
    def setUp(self):
        self.dir = support.scratch_dir(self)
        self.data = os.path.join(self.dir, "games.bin")
        synthetic_records(self.data, 96, seed=1)

    def args(self, out, epochs, *extra):
        return ["--data", self.data, "--arch", "20,1,16,8", "--batch", "32", "--epochs",
                str(epochs), "--eval-every", "3", "--held-out", "0.25", "--lr", "2e-2",
                "--threads", "1", "--out", os.path.join(self.dir, out), *extra]

    def test_training_lowers_the_loss_and_writes_the_run(self):
        self.assertEqual(quiet_train(self.args("run", 40)), 0)
        run = os.path.join(self.dir, "run")
        rows = read_rows(run)
        self.assertEqual(int(rows[-1]["step"]), 40 * 3)
        first, last = rows[0], rows[-1]
        self.assertLess(float(last["train_policy_loss"]), 0.5 * float(first["train_policy_loss"]))
        self.assertLess(float(last["val_policy_loss"]), float(first["val_policy_loss"]))
        # The value loss moves less and more noisily: compare the first and
        # last five rows.
        value = [float(r["train_value_loss"]) for r in rows]
        self.assertLess(sum(value[-5:]), sum(value[:5]))
        self.assertTrue(os.path.getsize(os.path.join(run, "losses.png")) > 0)
        model = weights.load(os.path.join(run, "network.bin"))
        self.assertEqual(str(model.arch), "20,1,16,8")

    def test_resumed_run_matches_an_uninterrupted_one(self):
        self.assertEqual(quiet_train(self.args("whole", 4)), 0)
        self.assertEqual(quiet_train(self.args("split", 2)), 0)
        self.assertEqual(quiet_train(self.args("split", 4)), 0)
        with open(os.path.join(self.dir, "whole", "network.bin"), "rb") as a, \
                open(os.path.join(self.dir, "split", "network.bin"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        steps = [int(r["step"]) for r in read_rows(os.path.join(self.dir, "split"))]
        self.assertEqual(steps, sorted(set(steps)))

    def test_resume_refuses_another_architecture(self):
        self.assertEqual(quiet_train(self.args("run", 1)), 0)
        changed = self.args("run", 2)
        changed[changed.index("--arch") + 1] = "20,2,16,8"
        self.assertEqual(quiet_train(changed), 1)


if __name__ == "__main__":
    unittest.main()
