"""The engine's policy-and-value network, layer for layer, in PyTorch.

The module computes exactly what the engine computes for a weight file with
header (N, B, F, H), so a trained module exported to network.bin plays as
trained, and a network.bin imported here evaluates as in the engine.
"""

import warnings
from dataclasses import dataclass

import torch
from torch import nn
import torch.nn.functional as fn


@dataclass(frozen=True)
class Arch:
    """Dimensions of a network, as stored in the weight-file header."""

    board_size: int  # N
    depth: int  # B: the 5x5 layer plus B - 1 3x3 layers
    filters: int  # F
    value_hidden: int  # H

    @staticmethod
    def parse(text):
        """Reads "N,B,F,H"."""
        parts = text.split(",")
        if len(parts) != 4:
            raise ValueError(f"architecture must be N,B,F,H, got {text!r}")
        try:
            return Arch(*(int(p) for p in parts))
        except ValueError:
            raise ValueError(f"architecture must be four integers, got {text!r}") from None

    def __str__(self):
        return f"{self.board_size},{self.depth},{self.filters},{self.value_hidden}"

    def problems(self):
        """Reasons the engine would refuse this shape; empty when it loads it.

        The header stores N and B as signed bytes and F, H as unsigned 16-bit
        numbers; the engine takes boards up to 32 cells wide, and its kernels
        work on pairs of cells and on 16 channels at a time, so N*N must be
        even and F a multiple of 16."""
        n, b, f, h = self.board_size, self.depth, self.filters, self.value_hidden
        found = []
        if not 2 <= n <= 32:
            found.append(f"board size {n} outside 2..32")
        elif n * n % 2:
            found.append(f"board size {n} gives an odd cell count")
        if not 1 <= b <= 127:
            found.append(f"depth {b} outside 1..127")
        if not 16 <= f <= 65535 or f % 16:
            found.append(f"filters {f} not a positive multiple of 16 below 65536")
        if not 0 <= h <= 65535:
            found.append(f"value hidden units {h} outside 0..65535")
        return found

    def check(self):
        found = self.problems()
        if found:
            raise ValueError("unusable architecture " + str(self) + ": " + "; ".join(found))


class QuoriboNet(nn.Module):
    """Trunk of one 5x5 and B - 1 3x3 rectified convolutions, then

    * value head: 1x1 conv F -> 2, ReLU, flatten channel-major
      (index o*N*N + p), Linear 2N^2 -> H, ReLU, Linear H -> 1;
    * policy head: 3x3 conv F -> F, ReLU, then one F-vector shared by all
      cells (a bias-free 1x1 conv) plus a bias per cell.

    forward() takes (batch, 3, N, N) planes and returns the policy logits
    (batch, N*N), row-major, and the value logit (batch,). The value is the
    winning probability of the side to move: sigmoid of the logit.
    """

    def __init__(self, arch):
        super().__init__()
        self.arch = arch
        n, b, f, h = arch.board_size, arch.depth, arch.filters, arch.value_hidden
        self.first = nn.Conv2d(3, f, 5, padding=2)
        self.hidden = nn.ModuleList(nn.Conv2d(f, f, 3, padding=1) for _ in range(b - 1))
        self.policy_features = nn.Conv2d(f, f, 3, padding=1)
        self.policy_vector = nn.Conv2d(f, 1, 1, bias=False)
        self.policy_bias = nn.Parameter(torch.zeros(n * n))
        self.value_conv = nn.Conv2d(f, 2, 1)
        with warnings.catch_warnings():
            # H = 0 is a valid shape (the value is then sigmoid of one bias);
            # torch warns that it cannot initialise the empty weights.
            warnings.filterwarnings("ignore", "Initializing zero-element tensors")
            self.value_hidden = nn.Linear(2 * n * n, h)
            self.value_out = nn.Linear(h, 1)
        # The value signal (game results) is noisy early in training while the
        # policy loss reshapes the trunk; with only two rectified value
        # channels both can die before the head learns anything. Starting them
        # well inside their linear range keeps them alive.
        with torch.no_grad():
            self.value_conv.bias.fill_(1.0)
            self.value_hidden.bias.fill_(0.5)

    def forward(self, planes):
        return self.heads(self.trunk(planes))

    def trunk(self, planes):
        """The shared features both heads read (and training-only heads may)."""
        x = fn.relu(self.first(planes))
        for layer in self.hidden:
            x = fn.relu(layer(x))
        return x

    def heads(self, x):
        """(policy logits, value logit) from the trunk's features."""
        p = fn.relu(self.policy_features(x))
        policy = self.policy_vector(p).flatten(1) + self.policy_bias
        v = fn.relu(self.value_conv(x)).flatten(1)
        v = fn.relu(self.value_hidden(v))
        value = self.value_out(v).squeeze(1)
        return policy, value

    def evaluate(self, planes, occupied):
        """What the engine reports: the value, and the policy over empty cells.

        occupied is a (batch, N*N) bool tensor. Probabilities of occupied cells
        are 0 and the rest sum to 1; a board without an empty cell gets an
        all-zero policy, as in the engine."""
        logits, value = self.forward(planes)
        probs = torch.softmax(logits, dim=1).masked_fill(occupied, 0.0)
        total = probs.sum(dim=1, keepdim=True)
        probs = torch.where(total > 0, probs / total.clamp_min(1e-300), probs)
        return torch.sigmoid(value), probs

    def l2_penalty(self):
        """Sum of squared weights, biases excluded."""
        return sum((p * p).sum() for name, p in self.named_parameters() if is_weight(name))


def is_weight(name):
    return not name.endswith("bias")


def encode_planes(boards, side_to_move=None):
    """Input planes from boards of shape (batch, N, N) or (batch, N*N).

    Without side_to_move the boards are taken from the side to move's view
    (1 own stone, -1 opponent, 0 empty), as in the training records. With it,
    boards hold signs (1 CROSS, -1 CIRCLE) and side_to_move is a (batch,)
    tensor of signs. Plane 0: the side to move's stones, 1: the opponent's,
    2: empty cells."""
    boards = torch.as_tensor(boards)
    batch = boards.shape[0]
    n = int(round(boards[0].numel() ** 0.5))
    boards = boards.reshape(batch, n, n)
    if side_to_move is not None:
        side = torch.as_tensor(side_to_move).reshape(batch, 1, 1).to(boards.dtype)
        boards = boards * side
    planes = torch.stack((boards == 1, boards == -1, boards == 0), dim=1)
    return planes.to(torch.get_default_dtype())
