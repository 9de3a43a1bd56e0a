"""The loop's resuming of a round's self-play games (quoribo-selfplay play on
a tiny network)."""

import argparse
import contextlib
import io
import json
import os
import unittest

import numpy as np

import support
from quoribo import data, labels, loop, selfplay, weights
from test_reinforce import write_selfplay


def tool_dir():
    eval_tool = support.eval_tool()
    folder = os.path.dirname(eval_tool) if eval_tool else ""
    needed = ("quoribo-selfplay", "quoribo-match", "pbrain-quoribo", "quoribo-teachergen",
              "quoribo-label")
    return folder if folder and all(os.path.isfile(os.path.join(folder, t)) for t in needed) else None


@unittest.skipUnless(tool_dir(), "the tools are not built: " + support.missing_tool_message())
class RoundGamesTest(unittest.TestCase):
    def setUp(self):
        self.root = support.scratch_dir(self)
        paths = loop.Paths(self.root)
        os.makedirs(paths.history)
        os.makedirs(os.path.dirname(paths.settings))
        with open(paths.settings, "w") as out:
            json.dump({"games_per_round": 3, "full_sims": 8, "fast_sims": 2, "full_share": 0.5,
                       "workers": 2}, out)
        self.best = paths.generation(0)
        self.other = os.path.join(self.root, "other.bin")
        weights.export(support.random_network(1, support.Arch(20, 1, 16, 8)), self.best)
        weights.export(support.random_network(2, support.Arch(20, 1, 16, 8)), self.other)
        self.loop = loop.Loop(argparse.Namespace(root=self.root, bin=tool_dir(), commit=False))

    def play(self, network):
        """The round's file and its bytes' digest."""
        with contextlib.redirect_stdout(io.StringIO()):
            path = self.loop.play_round(1, network)
        return path, loop.file_digest(path)

    def test_a_round_goes_on_only_from_its_own_games(self):
        path, whole = self.play(self.best)
        self.assertEqual(len(selfplay.read_games(path)), 3)
        with open(path, "rb") as src:
            raw = src.read()
        last = len(raw) - len(raw) // 4

        # Cut short inside a game, or its bytes zeroed after a crash: the
        # sound games stay and the round ends as if never stopped.
        for damaged in (raw[:last], raw[:last] + bytes(len(raw) - last)):
            with open(path, "wb") as out:
                out.write(damaged)
            self.assertEqual(self.play(self.best)[1], whole)

        # Games of another network, or without a stamp, are set aside.
        _, again = self.play(self.other)
        self.assertNotEqual(again, whole)
        self.assertEqual(loop.file_digest(path + ".stale"), whole)
        os.remove(os.path.join(os.path.dirname(path), "round-001.json"))
        self.assertEqual(self.play(self.other)[1], again)
        self.assertEqual(loop.file_digest(path + ".stale"), again)

        # So are games played under other variety settings.
        self.loop.cfg["temp_stones"] = 2
        changed = self.play(self.other)[1]
        self.assertNotEqual(changed, again)
        self.assertEqual(loop.file_digest(path + ".stale"), again)
        with open(os.path.join(os.path.dirname(path), "round-001.json")) as src:
            self.assertEqual(json.load(src)["temp_stones"], 2)

    def test_openings_hold_the_teachers_first_moves_from_an_empty_board(self):
        self.loop.cfg.update({"opening_games": 12, "opening_max_stones": 2})
        with contextlib.redirect_stdout(io.StringIO()):
            files = self.loop.openings()
        records = np.fromfile(files[0], dtype=data.RECORD)
        stones = np.count_nonzero(records["cells"], axis=1)
        self.assertEqual(sorted(set(stones.tolist())), [0, 1, 2])
        self.assertEqual(int((stones == 0).sum()), 12)
        rows, cols = np.divmod(records["move"][stones == 0].astype(int), 20)
        self.assertTrue(((rows >= 7) & (rows <= 12) & (cols >= 7) & (cols <= 12)).all())
        self.assertFalse(os.path.exists(files[0] + ".games"))
        self.loop.cfg["opening_games"] = 0
        self.assertEqual(self.loop.openings(), [])

    def test_labels_see_each_position_from_its_side_to_move(self):
        # X builds three in row 9 in the opening; O to move faces a VCF
        # (defend), X makes an open four (win), O cannot hold both ends
        # (lost), X makes five (win).
        cell = lambda row, col: row * 20 + col  # noqa: E731
        moves = [cell(9, 5), cell(0, 0), cell(9, 6), cell(0, 2), cell(9, 7),
                 cell(0, 4), cell(9, 8), cell(9, 9), cell(9, 4)]
        games = os.path.join(self.root, "round-001.bin")
        write_selfplay(games, [(5, 1, moves, [(False, 0.5, [])] * 4)])
        log = games.replace(".bin", ".labels.log")

        def labelling_runs():
            with open(log) as src:
                return src.read().count("positions:")
        with contextlib.redirect_stdout(io.StringIO()):
            path = self.loop.label_games(games)
            self.assertEqual(labelling_runs(), 1)
            self.assertEqual(self.loop.label_games(games), path)  # kept, not made again
        self.assertEqual(labelling_runs(), 1)
        (per_game,) = labels.load_selfplay_labels(path, selfplay.read_games(games))
        self.assertEqual(per_game["kind"].tolist(),
                         [labels.DEFEND, labels.WIN, labels.LOST, labels.WIN])
        targets = np.unpackbits(per_game["targets"], axis=1, bitorder="little")
        self.assertTrue(targets[0, cell(9, 4)] and targets[0, cell(9, 8)])
        self.assertEqual(np.flatnonzero(targets[3]).tolist(), [cell(9, 4)])


if __name__ == "__main__":
    unittest.main()
