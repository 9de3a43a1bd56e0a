"""Shared helpers of the training tests: the import path, tiny networks,
positions and the engine's evaluation tool."""

import os
import shutil
import subprocess
import sys

import numpy as np
import torch

TRAINING_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO_DIR = os.path.dirname(TRAINING_DIR)
sys.path.insert(0, TRAINING_DIR)

from quoribo import weights  # noqa: E402  (needs the path above)
from quoribo.model import Arch, QuoriboNet  # noqa: E402

TINY = Arch(20, 2, 16, 8)


def random_network(seed, arch=TINY):
    return weights.randomize(QuoriboNet(arch), torch.Generator().manual_seed(seed))


def random_board(rng, n=20, fill=None):
    """A board of signs (1 CROSS, -1 CIRCLE, 0 empty), a random share filled."""
    fill = rng.uniform(0.0, 0.8) if fill is None else fill
    board = np.zeros(n * n, dtype=np.int8)
    stones = rng.choice(n * n, size=int(round(fill * n * n)), replace=False)
    board[stones] = rng.choice((1, -1), size=len(stones))
    return board.reshape(n, n)


def position_line(board, side):
    """A line of the evaluation tool's input: cells row-major, then the side."""
    cells = "".join({1: "x", -1: "o", 0: "."}[int(v)] for v in np.ravel(board))
    return cells + " " + ("x" if side == 1 else "o")


def eval_tool():
    """Path of quoribo-eval: in $QUORIBO_BIN_DIR, else build/release/bin."""
    bin_dir = os.environ.get("QUORIBO_BIN_DIR") or os.path.join(REPO_DIR, "build", "release", "bin")
    path = os.path.join(bin_dir, "quoribo-eval")
    return path if os.path.isfile(path) and os.access(path, os.X_OK) else None


def missing_tool_message():
    return ("quoribo-eval is not built: build the quoribo-eval target and point "
            "QUORIBO_BIN_DIR at its bin directory (default build/release/bin)")


def run_tool(args, stdin_text=""):
    return subprocess.run([eval_tool()] + args, input=stdin_text, capture_output=True,
                          text=True, timeout=60)


def scratch_dir(test):
    """A temporary directory removed after the test."""
    import tempfile
    path = tempfile.mkdtemp(prefix="quoribo-test-")
    test.addCleanup(shutil.rmtree, path, ignore_errors=True)
    return path
