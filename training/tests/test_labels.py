import os
import unittest

import numpy as np
import torch
import torch.nn.functional as fn

import support
from quoribo import data, labels
from test_train import quiet_train, synthetic_records


def label_rows(kinds, targets):
    """Labels of the given kinds, each with its list of target cells."""
    rows = np.zeros(len(kinds), dtype=labels.LABEL)
    for i, (kind, cells) in enumerate(zip(kinds, targets)):
        bits = np.zeros(400, dtype=np.uint8)
        bits[cells] = 1
        rows["kind"][i] = kind
        rows["count"][i] = len(cells)
        rows["targets"][i] = np.packbits(bits, bitorder="little")
    return rows


def empty_cells(records, i, count):
    return list(np.flatnonzero(records["cells"][i] == 0)[:count])


class LabelsTest(unittest.TestCase):
    def setUp(self):
        self.dir = support.scratch_dir(self)
        self.data = os.path.join(self.dir, "games.bin")
        synthetic_records(self.data, 96, seed=3)
        self.records = data.load_records([self.data])
        kinds = [labels.WIN, labels.DEFEND, labels.LOST, labels.NONE, labels.UNKNOWN] * 19 + [0]
        targets = [empty_cells(self.records, i, {labels.WIN: 1, labels.DEFEND: 3}.get(k, 0))
                   for i, k in enumerate(kinds)]
        self.rows = label_rows(kinds, targets)
        self.labels = os.path.join(self.dir, "games.labels")
        self.rows.tofile(self.labels)

    def test_labels_set_values_moves_and_target_sets(self):
        loaded = labels.load_labels([self.labels], [96])
        with self.assertRaises(ValueError):  # one record more than labelled
            labels.load_labels([self.labels], [97])
        dataset = data.Dataset(self.records)
        results = dataset.values.clone()
        labels.apply(dataset, self.records, loaded)
        self.assertEqual(float(dataset.values[0]), 1.0)
        self.assertEqual(float(dataset.values[2]), 0.0)
        self.assertEqual(float(dataset.values[3]), float(results[3]))
        self.assertEqual(int(dataset.moves[0]), empty_cells(self.records, 0, 1)[0])
        self.assertEqual(dataset.has_targets[:5].tolist(), [False, True, False, False, False])
        mask = labels.target_mask(dataset.targets, dataset.has_targets, dataset.moves)
        self.assertEqual(sorted(np.flatnonzero(mask[1].numpy())), empty_cells(self.records, 1, 3))
        self.assertEqual(mask[3].sum().item(), 1)
        self.assertTrue(mask[3, dataset.moves[3]])

        occupied = self.rows.copy()
        occupied["targets"][1] = np.packbits(
            (self.records["cells"][1] != 0).astype(np.uint8), bitorder="little")
        occupied["count"][1] = int((self.records["cells"][1] != 0).sum())
        with self.assertRaises(ValueError):
            labels.apply(data.Dataset(self.records), self.records, occupied)

        # Symmetries move board, move and target set together.
        augmenter = data.Augmenter()
        boards, moves, moved = labels.augment(augmenter, dataset.boards, dataset.moves, mask,
                                              torch.Generator().manual_seed(5))
        single = ~dataset.has_targets
        self.assertTrue(moved[torch.arange(96)[single], moves[single]].all())
        self.assertEqual(moved.sum(1).tolist(), mask.sum(1).tolist())
        _, _, stones = labels.augment(augmenter, dataset.boards, dataset.moves,
                                      dataset.boards != 0, torch.Generator().manual_seed(5))
        self.assertTrue(torch.equal(stones, boards != 0))

    def test_set_loss_is_cross_entropy_for_one_target_and_training_runs(self):
        logits = torch.randn(4, 400)
        moves = torch.tensor([3, 50, 200, 399])
        one = fn.one_hot(moves, 400).bool()
        self.assertAlmostEqual(float(labels.set_policy_loss(logits, one)),
                               float(fn.cross_entropy(logits, moves)), places=5)
        both = one | fn.one_hot(torch.tensor([4, 51, 201, 398]), 400).bool()
        self.assertLess(float(labels.set_policy_loss(logits, both)),
                        float(labels.set_policy_loss(logits, one)))

        out = os.path.join(self.dir, "run")
        self.assertEqual(quiet_train(["--data", self.data, "--labels", self.labels, "--arch",
                                      "20,1,16,8", "--batch", "32", "--epochs", "2",
                                      "--held-out", "0.25", "--threads", "1", "--out", out]), 0)
        self.assertTrue(os.path.exists(os.path.join(out, "network.bin")))


if __name__ == "__main__":
    unittest.main()
