"""Self-play records into the trainer, and the reinforcement trainer itself."""

import contextlib
import csv
import io
import json
import math
import os
import struct
import unittest

import numpy as np
import torch

import support
from quoribo import labels, reinforce, selfplay, weights
from test_equivalence import engine_outputs, test_positions, torch_outputs


def write_selfplay(path, games, seed=0):
    """A record file in the tool's format; games are (opening, winner, moves,
    searched) with searched entries (full, value, [(cell, visits)])."""
    out = bytearray(b"QSP1" + struct.pack("<HBBQ", 1, 20, 0, seed))
    for index, (opening, winner, moves, searched) in enumerate(games):
        body = struct.pack("<IBbH", index, opening, winner, len(moves))
        body += struct.pack(f"<{len(moves)}H", *moves)
        for full, value, visits in searched:
            body += struct.pack("<BH", int(full), int(round(value * 65535)))
            if full:
                body += struct.pack("<H", len(visits))
                for cell, count in visits:
                    body += struct.pack("<HH", cell, count)
        out += struct.pack("<I", len(body)) + body
    with open(path, "wb") as f:
        f.write(out)


def synthetic_games(count, seed):
    """Random stone sequences whose every full search put nearly all visits
    on the empty cell nearest the centre (plus single visits elsewhere, which
    the trainer prunes); the first mover wins games with an even number."""
    rng = np.random.default_rng(seed)
    rows, cols = np.divmod(np.arange(400), 20)
    distance = (rows - 9.5) ** 2 + (cols - 9.5) ** 2 + rng.uniform(0, 1e-3, 400)
    games = []
    for g in range(count):
        moves = [int(c) for c in rng.choice(400, size=int(rng.integers(6, 30)), replace=False)]
        searched, taken = [], set(moves[:2])
        for cell in moves[2:]:
            empty = [c for c in range(400) if c not in taken]
            best = min(empty, key=lambda c: distance[c])
            other = sorted(set(int(c) for c in rng.choice(empty, 5)) - {best})
            visits = sorted([(best, 90)] + [(c, 1) for c in other])
            searched.append((bool(rng.random() < 0.5), 0.5, visits))
            taken.add(cell)
        games.append((2, 1 if g % 2 == 0 else -1, moves, searched))
    return games


def quiet(function, argv):
    with contextlib.redirect_stderr(io.StringIO()):
        return function(argv)


class SelfPlayRecordsTest(unittest.TestCase):
    def test_positions_replay_the_games(self):
        path = os.path.join(support.scratch_dir(self), "games.bin")
        games = synthetic_games(3, seed=1)
        write_selfplay(path, games)
        read = selfplay.read_games(path)
        self.assertEqual([g.moves for g in read], [g[2] for g in games])
        pos = selfplay.Positions(read, prune_visits=1)
        self.assertEqual(len(pos), sum(len(g[2]) - 2 for g in games))
        first = pos.game == 0
        boards, moves = pos.boards[first], pos.moves[first]
        for k in range(1, len(boards)):
            # The next position is the previous one, move played, seen from
            # the other side.
            expected = -boards[k - 1].astype(int)
            expected[moves[k - 1]] = -1
            np.testing.assert_array_equal(boards[k], expected)
        # Results alternate from the winner's side; targets keep only the
        # counts above one visit.
        self.assertEqual(list(pos.results[first][:2]), [1.0, 0.0])
        self.assertTrue(np.all(pos.targets.max(axis=1) == 1.0))
        self.assertEqual(int(pos.full.sum()), len(pos.targets))
        self.assertEqual(list(pos.replies[first][:2]), list(moves[1:3]))
        self.assertEqual(pos.replies[first][-1], -1)

    def test_a_game_cut_short_is_left_out_and_a_bad_one_refused(self):
        path = os.path.join(support.scratch_dir(self), "games.bin")
        write_selfplay(path, synthetic_games(2, seed=2))
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[:-3])
        self.assertEqual(len(selfplay.read_games(path)), 1)
        opening, winner, moves, searched = synthetic_games(1, seed=3)[0]
        write_selfplay(path, [(opening, winner, moves[:3] + moves[:1], searched)])
        with self.assertRaises(ValueError):
            selfplay.read_games(path)


class ReinforceTest(unittest.TestCase):
    def setUp(self):
        self.dir = support.scratch_dir(self)
        self.games = os.path.join(self.dir, "games.bin")
        write_selfplay(self.games, synthetic_games(40, seed=4))
        self.init = os.path.join(self.dir, "init.bin")
        weights.export(support.random_network(6, support.Arch(20, 1, 16, 8)), self.init)

    def train(self, out, steps, *extra):
        argv = ["--init", self.init, "--selfplay", self.games, "--steps", str(steps),
                "--batch", "32", "--lr", "2e-2", "--eval-every", "5", "--held-out", "0.25",
                "--threads", "1", "--out", os.path.join(self.dir, out), *extra]
        self.assertEqual(quiet(reinforce.main, argv), 0)
        with open(os.path.join(self.dir, out, "metrics.csv"), newline="") as src:
            return list(csv.DictReader(src))

    def test_a_few_steps_lower_the_loss(self):
        rows = self.train("run", 40)
        self.assertEqual(int(rows[-1]["step"]), 40)
        self.assertLess(float(rows[-1]["val_policy_loss"]), 0.8 * float(rows[0]["val_policy_loss"]))
        self.assertLess(float(rows[-1]["train_policy_loss"]), float(rows[1]["train_policy_loss"]))
        self.assertLess(float(rows[-1]["train_reply_loss"]), float(rows[1]["train_reply_loss"]))

    def test_max_passes_cuts_the_steps_to_the_window(self):
        rows = self.train("passes", 1000, "--max-passes", "1.5")
        with open(os.path.join(self.dir, "passes", "summary.json")) as src:
            summary = json.load(src)
        expected = math.ceil(1.5 * summary["positions"] / 32)
        self.assertLess(expected, 1000)
        self.assertEqual(summary["steps"], expected)
        self.assertEqual(int(rows[-1]["step"]), expected)

    def test_labels_set_exact_values_and_target_sets(self):
        # Every searched move labelled in turn win, defend, lost, none; the
        # targets are the empty cells of the central 2 x 2 (win) or 4 x 4
        # (defend) square, which every symmetry keeps in place.
        games = selfplay.read_games(self.games)
        rows = np.zeros(sum(len(g.full) for g in games), dtype=labels.LABEL)
        rows["kind"] = np.resize([labels.WIN, labels.DEFEND, labels.LOST, labels.NONE], len(rows))
        pos = selfplay.Positions(games)
        ring = np.abs(np.array(np.divmod(np.arange(400), 20)) - 9.5).max(axis=0)
        for i in range(len(rows)):
            bits = np.zeros(400, np.uint8)
            width = {labels.WIN: 1, labels.DEFEND: 2}.get(int(rows["kind"][i]), 0)
            bits[(ring < width) & (pos.boards[i] == 0)] = 1
            if width and bits.sum() == 0:
                rows["kind"][i] = labels.NONE
            rows["targets"][i] = np.packbits(bits, bitorder="little")
            rows["count"][i] = bits.sum()
        path = os.path.join(self.dir, "games.labels")
        rows.tofile(path)

        labelled = selfplay.Positions(games, labels=labels.load_selfplay_labels(path, games))
        t = reinforce.selfplay_tensors(labelled, np.arange(8), fast_value_weight=0.0)
        self.assertEqual(t["result"][[0, 2, 4, 6]].tolist(), [1.0, 0.0, 1.0, 0.0])
        self.assertEqual(t["result"][[3, 7]].tolist(), pos.results[[3, 7]].tolist())
        self.assertTrue((t["value_weight"][[0, 2, 4, 6]] == 1).all())  # exact, fast or not
        self.assertEqual(t["tactics_weight"].tolist(), [1, 1, 0, 0] * 2)
        self.assertEqual(t["tactics"].sum(1).tolist(), rows["count"][:8].tolist())
        mixed = reinforce.selfplay_tensors(labelled, np.arange(8), search_value_mix=0.25)
        self.assertAlmostEqual(float(mixed["result"][3]),
                               0.75 * pos.results[3] + 0.25 * pos.values[3], places=6)
        self.assertEqual(mixed["result"][[0, 2]].tolist(), [1.0, 0.0])  # exact values stay
        with self.assertRaises(ValueError):
            labels.load_selfplay_labels(path, games[:-1])

        metrics = self.train("labelled", 40, "--labels", path, "--label-weight", "2")
        self.assertLess(float(metrics[-1]["train_tactics_loss"]),
                        0.7 * float(metrics[1]["train_tactics_loss"]))
        self.assertEqual(float(self.train("plain", 5)[-1]["train_tactics_loss"]), 0.0)
        self.assertEqual(quiet(reinforce.main, ["--init", self.init, "--selfplay", self.games,
                                                self.games, "--labels", path,
                                                "--out", os.path.join(self.dir, "x")]), 1)

    @unittest.skipUnless(support.eval_tool(), support.missing_tool_message())
    def test_export_after_training_with_the_helper_head_plays_as_trained(self):
        self.train("run", 10)
        run = os.path.join(self.dir, "run")
        saved = torch.load(os.path.join(run, "checkpoint.pt"), weights_only=False)
        model = reinforce.TrainingNet(reinforce.QuoriboNet(support.Arch(20, 1, 16, 8)))
        model.load_state_dict(saved["model"])
        self.assertGreater(float(model.reply_bias.abs().sum()), 0.0)
        network = os.path.join(run, "network.bin")
        self.assertEqual(os.path.getsize(network), weights.file_size(model.net.arch))
        boards, sides = test_positions(7, 12)
        lines = [support.position_line(b, s) for b, s in zip(boards, sides)]
        want_values, want_policies = torch_outputs(model.net, boards, sides)
        got_values, got_policies = engine_outputs(network, lines, self)
        np.testing.assert_allclose(got_values, want_values, rtol=0, atol=1e-4)
        np.testing.assert_allclose(got_policies, want_policies, rtol=0, atol=1e-4)


if __name__ == "__main__":
    unittest.main()
