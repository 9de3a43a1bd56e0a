"""Exact tactical labels beside teacher records and self-play games
(tools/quoribo-label/FORMAT.md).

quoribo-label writes one 54-byte label per record (with --selfplay, per
searched move): what the threat-space solver proved about the position for
the side to move. Training with them (python3 -m quoribo.train ... --labels
FILE ..., or quoribo.reinforce --labels) changes the targets of the labelled
positions only:

  win     value 1, policy the first move of the side to move's VCF
  defend  policy the set of refutations of the opponent's VCF: the loss is
          -log of the probability the network gives the whole set
  lost    value 0 (the opponent's VCF has no refutation)

Everything else keeps the game's result and the teacher's move.

  python3 -m quoribo.labels evaluate NETWORK.bin --data R.bin --labels R.labels

scores a network on the held-out tail of the records: value loss against the
game results and against the exact values, and how often its favourite move
is a winning move or a refutation.
"""

import argparse
import sys

import numpy as np
import torch
import torch.nn.functional as fn

from . import data

LABEL = np.dtype([("kind", "u1"), ("length", "u1"), ("count", "<u2"), ("targets", "u1", (50,))])
NONE, WIN, DEFEND, LOST, UNKNOWN = range(5)


def load_labels(paths, record_counts):
    """The labels of the given files, one file per record file, checked
    against the number of records each record file holds."""
    if len(paths) != len(record_counts):
        raise ValueError(f"{len(paths)} label files for {len(record_counts)} record files")
    chunks = []
    for path, count in zip(paths, record_counts):
        raw = np.fromfile(path, dtype=np.uint8)
        if raw.size != count * LABEL.itemsize:
            raise ValueError(f"{path}: {raw.size} bytes, but its records need "
                             f"{count} labels of {LABEL.itemsize} bytes")
        labels = raw.view(LABEL)
        bits = np.unpackbits(labels["targets"], axis=1, bitorder="little")
        if (labels["kind"] > UNKNOWN).any() or (bits.sum(axis=1) != labels["count"]).any():
            raise ValueError(f"{path}: malformed labels")
        chunks.append(labels)
    return np.concatenate(chunks)


def load_selfplay_labels(path, games):
    """The labels quoribo-label --selfplay wrote for a self-play file, split
    into one array per game (a label per searched move). `games` are the
    file's complete games as selfplay.read_games returns them; the labels of
    games written after the labelling are refused, not guessed."""
    counts = [len(g.full) for g in games]
    labels = load_labels([path], [sum(counts)])
    return np.split(labels, np.cumsum(counts)[:-1]) if counts else []


def check_targets(labels, cells):
    """Raises ValueError unless every win and defend label has a target and
    no target is a taken cell of its position (`cells`, (R, 400))."""
    kind = labels["kind"]
    if ((kind == WIN) | (kind == DEFEND))[labels["count"] == 0].any():
        raise ValueError("a win or defend label without a target")
    targets_on_occupied = np.unpackbits(labels["targets"], axis=1, bitorder="little")[
        :, :data.CELLS].astype(bool) & (cells != 0)
    if targets_on_occupied.any():
        raise ValueError("a label target is an occupied cell")


def apply(dataset, records, labels):
    """Puts the labels' targets into a data.Dataset of `records` (same
    order): value targets of wins and lost positions, the winning move as
    the move, and the refutation sets as packed target rows."""
    kind = labels["kind"]
    check_targets(labels, records["cells"])
    values = dataset.values.numpy().copy()
    values[kind == WIN] = 1.0
    values[kind == LOST] = 0.0
    dataset.values = torch.from_numpy(values)
    wins = np.flatnonzero(kind == WIN)
    if len(wins):
        first = np.argmax(np.unpackbits(labels["targets"][wins], axis=1, bitorder="little"), 1)
        moves = dataset.moves.numpy().copy()
        moves[wins] = first
        dataset.moves = torch.from_numpy(moves)
    dataset.targets = torch.from_numpy(np.ascontiguousarray(labels["targets"]))
    dataset.has_targets = torch.from_numpy(kind == DEFEND)


def target_mask(packed, has_targets, moves):
    """(B, 400) bool: the label's target set where it has one, else the move."""
    bits = torch.arange(8, dtype=torch.uint8)
    mask = ((packed.unsqueeze(2) >> bits) & 1).flatten(1)[:, :data.CELLS].bool()
    single = fn.one_hot(moves, data.CELLS).bool()
    return torch.where(has_targets.unsqueeze(1), mask, single)


def augment(augmenter, boards, moves, mask, generator):
    """One random symmetry per position, the same for board, move and mask."""
    transforms = torch.randint(0, 8, (len(moves),), generator=generator)
    boards, moves = augmenter.apply(boards, moves, transforms)
    mask = torch.gather(mask, 1, augmenter.gather[transforms])
    return boards, moves, mask


def set_policy_losses(masked_logits, mask):
    """-log(probability of the target set) of each row, logits already -inf
    on occupied cells."""
    inside = masked_logits.masked_fill(~mask, float("-inf"))
    return torch.logsumexp(masked_logits, 1) - torch.logsumexp(inside, 1)


def set_policy_loss(masked_logits, mask):
    """The mean of set_policy_losses."""
    return set_policy_losses(masked_logits, mask).mean()


def _evaluate(argv):
    from . import weights
    from .model import encode_planes

    p = argparse.ArgumentParser(prog="python3 -m quoribo.labels evaluate")
    p.add_argument("network")
    p.add_argument("--data", required=True)
    p.add_argument("--labels", required=True)
    p.add_argument("--held-out", type=float, default=0.05)
    p.add_argument("--positions", type=int, default=0, help="first held-out positions (0: all)")
    args = p.parse_args(argv)
    records = data.load_records([args.data])
    labels = load_labels([args.labels], [len(records)])
    start = len(records) - int(round(len(records) * args.held_out))
    end = len(records) if args.positions == 0 else min(len(records), start + args.positions)
    records, labels = records[start:end], labels[start:end]
    model = weights.load(args.network)
    model.eval()
    boards = torch.from_numpy(np.ascontiguousarray(records["cells"]))
    values, logits = [], []
    with torch.no_grad():
        for s in range(0, len(records), 1024):
            part = boards[s:s + 1024]
            policy, value = model(encode_planes(part))
            logits.append(policy.masked_fill(part != 0, float("-inf")))
            values.append(value)
    value_logit = torch.cat(values).flatten()
    favourite = torch.cat(logits).argmax(1).numpy()
    results = torch.from_numpy(records["result"].astype(np.float32) / 2)
    kind = labels["kind"]
    exact = np.isin(kind, (WIN, LOST))
    exact_values = torch.from_numpy((kind[exact] == WIN).astype(np.float32))
    bits = np.unpackbits(labels["targets"], axis=1, bitorder="little")[:, :data.CELLS]
    hit = bits[np.arange(len(records)), favourite].astype(bool)
    print(f"{len(records)} held-out positions: value loss {fn.binary_cross_entropy_with_logits(value_logit, results):.4f} against the game results")
    print(f"  {exact.sum()} with an exact value: value loss "
          f"{fn.binary_cross_entropy_with_logits(value_logit[torch.from_numpy(exact)], exact_values):.4f}")
    for name, k in (("win", WIN), ("defend", DEFEND)):
        rows = kind == k
        print(f"  {rows.sum()} {name}: favourite move a target in {hit[rows].mean() * 100:.1f}%")
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] != "evaluate":
        print(__doc__, file=sys.stderr)
        return 2
    return _evaluate(argv[1:])


if __name__ == "__main__":
    sys.exit(main())
