"""One generation of reinforcement learning: a candidate network trained from
the current best on the self-play games of a replay window.

  python3 -m quoribo.reinforce --init best.bin --selfplay 'games/round-*.bin' \\
      --steps 1500 --out runs/round-007

Targets: the policy learns the root's visit distribution of the fully searched
moves (cross-entropy against the whole distribution, with the single visits
that the search gives every unvisited move pruned away); the value learns the
game's result at every searched move. A training-only head reading the trunk
predicts the opponent's reply; export drops it, so network.bin keeps exactly
the engine's format. Teacher records (--teacher) can be mixed into every batch
at a chosen share. Every position is seen under a random board symmetry.

With --labels (quoribo-label --selfplay, one file per self-play file) the
solver's exact tactics add targets to every searched move, fast ones too: a
position with a VCF has value 1 and the line's first move as a target; one
facing an opponent's VCF has the set of its refutations as a target (the
loss is -log of the probability of the whole set, weighted --label-weight);
one whose opponent's VCF has no refutation has value 0.

The newest self-play file's last games (--held-out) are kept out of training
for the metrics; --reference networks are scored on them too. The run
directory gets metrics.csv, losses.png, summary.json, checkpoint.pt (with the
helper head, to continue from) and network.bin.
"""

import argparse
import csv
import json
import math
import os
import sys
import time

import numpy as np
import torch
import torch.nn.functional as fn
from torch import nn

from . import data, labels, plots, selfplay, weights
from .model import Arch, QuoriboNet, encode_planes
from .progress import ProgressBar, format_duration

METRIC_FIELDS = ["step", "train_loss", "train_policy_loss", "train_value_loss",
                 "train_reply_loss", "train_tactics_loss", "l2_loss", "val_policy_loss", "val_value_loss",
                 "val_top1", "elapsed_s"]


class TrainingNet(nn.Module):
    """The engine's network plus a training-only head that predicts the
    opponent's reply from the trunk's features (one logit per cell)."""

    def __init__(self, net):
        super().__init__()
        self.net = net
        n, f = net.arch.board_size, net.arch.filters
        self.reply_vector = nn.Conv2d(f, 1, 1)
        self.reply_bias = nn.Parameter(torch.zeros(n * n))

    def forward(self, planes):
        x = self.net.trunk(planes)
        policy, value = self.net.heads(x)
        reply = self.reply_vector(x).flatten(1) + self.reply_bias
        return policy, value, reply

    def l2_penalty(self):
        extra = (self.reply_vector.weight ** 2).sum()
        return self.net.l2_penalty() + extra


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python3 -m quoribo.reinforce", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--init", required=True,
                   help="network.bin of the current best, a checkpoint.pt of its training, "
                        "or N,B,F,H for a fresh network of that shape")
    p.add_argument("--selfplay", nargs="+", required=True,
                   help="self-play record files or globs, oldest first")
    p.add_argument("--labels", nargs="*", default=[],
                   help="quoribo-label --selfplay files, one per self-play file, in its order")
    p.add_argument("--label-weight", type=float, default=1.0,
                   help="weight of the loss on the labels' winning moves and refutation sets")
    p.add_argument("--teacher", nargs="*", default=[], help="teacher record files or globs")
    p.add_argument("--teacher-share", type=float, default=0.0,
                   help="share of every batch taken from the teacher records")
    p.add_argument("--openings", nargs="*", default=[],
                   help="teacher-record files of first moves from an empty board")
    p.add_argument("--openings-share", type=float, default=0.0,
                   help="share of every batch taken from the opening records")
    p.add_argument("--steps", type=int, default=1500)
    p.add_argument("--max-passes", type=float,
                   help="also stop after this many passes over the self-play positions")
    p.add_argument("--minutes", type=float, help="also stop after this long")
    p.add_argument("--batch", type=int, default=256)
    p.add_argument("--lr", type=float, default=5e-4, help="Adam learning rate")
    p.add_argument("--l2", type=float, default=1e-4)
    p.add_argument("--reply-weight", type=float, default=0.15,
                   help="weight of the opponent's-reply helper head")
    p.add_argument("--fast-value-weight", type=float, default=1.0,
                   help="value-loss weight of the fast-search positions")
    p.add_argument("--search-value-mix", type=float, default=0.0,
                   help="share of the search's root winning rate in the value target "
                        "(the rest is the game's result)")
    p.add_argument("--prune-visits", type=int, default=1,
                   help="visit counts up to this are dropped from the policy targets")
    p.add_argument("--held-out", type=float, default=0.05,
                   help="share of the newest file's games kept for the metrics")
    p.add_argument("--reference", nargs="*", default=[],
                   help="networks whose held-out losses go into summary.json")
    p.add_argument("--eval-every", type=int, default=250)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--out", required=True)
    args = p.parse_args(argv)
    if not 0 <= args.teacher_share < 1 or (args.teacher_share > 0 and not args.teacher):
        p.error("--teacher-share must be in [0, 1) and needs --teacher files")
    if not 0 <= args.openings_share < 1 or (args.openings_share > 0 and not args.openings):
        p.error("--openings-share must be in [0, 1) and needs --openings files")
    if args.teacher_share + args.openings_share >= 1:
        p.error("--teacher-share and --openings-share must leave room for self-play positions")
    if args.steps < 0 or args.batch < 1 or args.eval_every < 1:
        p.error("--steps, --batch and --eval-every must be positive")
    if args.max_passes is not None and args.max_passes <= 0:
        p.error("--max-passes must be positive")
    if not 0 <= args.search_value_mix <= 1:
        p.error("--search-value-mix must be in [0, 1]")
    if not 0 < args.held_out < 1:
        p.error("--held-out must be in (0, 1)")
    return args


def load_start(path):
    """A TrainingNet from a network.bin (fresh helper head), a checkpoint, or
    a shape N,B,F,H (everything fresh)."""
    if not os.path.exists(path) and path.count(",") == 3:
        arch = Arch.parse(path)
        arch.check()
        return TrainingNet(QuoriboNet(arch))
    if path.endswith(".pt"):
        saved = torch.load(path, map_location="cpu", weights_only=False)
        model = TrainingNet(QuoriboNet(Arch.parse(saved["arch"])))
        model.load_state_dict(saved["model"])
        return model
    return TrainingNet(weights.load(path))


def split_games(paths, held_out, label_paths=()):
    """(training games, held-out games, the training games' labels or None):
    the held-out ones are the last games of the newest file."""
    files = [selfplay.read_games(p) for p in paths]
    if label_paths and len(label_paths) != len(paths):
        raise ValueError(f"{len(label_paths)} label files for {len(paths)} self-play files")
    per_game = [labels.load_selfplay_labels(lp, f) for lp, f in zip(label_paths, files)]
    newest = files[-1]
    held = max(1, int(round(len(newest) * held_out))) if len(newest) > 1 else 0
    train = [g for f in files[:-1] for g in f] + newest[:len(newest) - held]
    train_labels = None
    if per_game:
        train_labels = [lab for f in per_game[:-1] for lab in f] + \
            per_game[-1][:len(newest) - held]
    return train, newest[len(newest) - held:], train_labels


class Batches:
    """Random batches of training tensors from self-play positions and,
    optionally, teacher records and opening records (teacher records of the
    first moves from an empty board, at a share of their own that does not
    fall with the teacher's); one random symmetry per position."""

    def __init__(self, positions, teacher, teacher_share, fast_value_weight, seed,
                 openings=None, openings_share=0.0, search_value_mix=0.0):
        self.pos = positions
        self.teacher = teacher
        self.teacher_share = teacher_share if teacher is not None else 0.0
        self.openings = openings
        self.openings_share = openings_share if openings is not None else 0.0
        self.fast_value_weight = fast_value_weight
        self.search_value_mix = search_value_mix
        self.rng = np.random.default_rng(seed)
        self.gather, self.scatter = data.symmetry_tables()

    def next(self, size):
        from_teacher = int(round(size * self.teacher_share))
        from_openings = int(round(size * self.openings_share))
        parts = [self.selfplay_part(self.rng.integers(0, len(self.pos),
                                                      size - from_teacher - from_openings))]
        for records, count in ((self.teacher, from_teacher), (self.openings, from_openings)):
            if count:
                parts.append(record_tensors(records[self.rng.integers(0, len(records), count)]))
        batch = {k: torch.cat([p[k] for p in parts]) for k in parts[0]}
        return self.augment(batch)

    def selfplay_part(self, rows):
        return selfplay_tensors(self.pos, rows, self.fast_value_weight, self.search_value_mix)

    def augment(self, batch):
        t = torch.from_numpy(self.rng.integers(0, 8, len(batch["result"])))
        gather = self.gather[t]
        batch["boards"] = torch.gather(batch["boards"], 1, gather)
        batch["target"] = torch.gather(batch["target"], 1, gather)
        batch["tactics"] = torch.gather(batch["tactics"], 1, gather)
        batch["move"] = self.scatter[t, batch["move"]]
        batch["reply"] = self.scatter[t, batch["reply"]]
        return batch


def record_tensors(rec):
    """Training tensors of teacher records: the teacher's move as the policy
    target, the game's result as the value target."""
    count = len(rec)
    target = torch.zeros(count, data.CELLS)
    target[torch.arange(count), torch.from_numpy(rec["move"].astype(np.int64))] = 1.0
    return {"boards": torch.from_numpy(np.ascontiguousarray(rec["cells"])),
            "target": target, "policy_weight": torch.ones(count),
            "result": torch.from_numpy(rec["result"].astype(np.float32) / 2),
            "value_weight": torch.ones(count),
            "move": torch.from_numpy(rec["move"].astype(np.int64)),
            "reply": torch.zeros(count, dtype=torch.int64),
            "reply_weight": torch.zeros(count),
            "tactics": torch.zeros(count, data.CELLS, dtype=torch.bool),
            "tactics_weight": torch.zeros(count)}


def selfplay_tensors(pos, rows, fast_value_weight=1.0, search_value_mix=0.0):
    """Training tensors of self-play positions. The value target is the game's
    result, mixed with the search's own root winning rate at
    `search_value_mix`, and the solver's exact value where it has one."""
    rows = np.asarray(rows)
    count = len(rows)
    target = np.zeros((count, data.CELLS), np.float32)
    trow = pos.target_row[rows]
    has = trow >= 0
    target[has] = pos.targets[trow[has]]
    full = pos.full[rows]
    reply = pos.replies[rows]
    kind = pos.label_kind[rows]
    result = ((1 - search_value_mix) * pos.results[rows]
              + search_value_mix * pos.values[rows]).astype(np.float32)
    result[kind == labels.WIN] = 1.0
    result[kind == labels.LOST] = 0.0
    exact = (kind == labels.WIN) | (kind == labels.LOST)
    has_set = (kind == labels.WIN) | (kind == labels.DEFEND)
    tactics = np.unpackbits(pos.label_targets[rows], axis=1, bitorder="little")[:, :data.CELLS]
    return {"boards": torch.from_numpy(pos.boards[rows]),
            "target": torch.from_numpy(target),
            "policy_weight": torch.from_numpy(has.astype(np.float32)),
            "result": torch.from_numpy(result),
            "value_weight": torch.from_numpy(np.where(full | exact, 1.0, fast_value_weight)
                                             .astype(np.float32)),
            "move": torch.from_numpy(pos.moves[rows]),
            "reply": torch.from_numpy(np.maximum(reply, 0)),
            "reply_weight": torch.from_numpy((reply >= 0).astype(np.float32)),
            "tactics": torch.from_numpy(tactics.astype(bool) & has_set[:, None]),
            "tactics_weight": torch.from_numpy(has_set.astype(np.float32))}


def weighted_mean(values, weight):
    total = weight.sum()
    return (values * weight).sum() / total if total > 0 else values.sum() * 0.0


def batch_losses(model, batch):
    """(policy, value, reply, tactics) losses and the policy's top-1 hits on
    the target's best move."""
    boards = batch["boards"].long()
    planes = encode_planes(boards).contiguous(memory_format=torch.channels_last)
    logits, value_logit, reply_logits = model(planes)
    occupied = boards != 0
    logp = torch.log_softmax(logits.masked_fill(occupied, float("-inf")), dim=1)
    policy = -(batch["target"] * logp.masked_fill(occupied, 0.0)).sum(dim=1)
    value = fn.binary_cross_entropy_with_logits(value_logit, batch["result"], reduction="none")
    after = occupied.clone()
    after[torch.arange(len(boards)), batch["move"]] = True
    reply = fn.cross_entropy(reply_logits.masked_fill(after, float("-inf")), batch["reply"],
                             reduction="none")
    reply = torch.where(batch["reply_weight"] > 0, reply, torch.zeros_like(reply))
    masked = logits.masked_fill(occupied, float("-inf"))
    hits = ((masked.argmax(1) == batch["target"].argmax(1)).float()
            * batch["policy_weight"]).sum()
    # -log of the probability of the target set; rows without one get a set
    # of every empty cell, whose loss is zero, so no -inf reaches the mean.
    tactic_set = torch.where(batch["tactics_weight"].unsqueeze(1) > 0, batch["tactics"], ~occupied)
    tactics = labels.set_policy_losses(masked, tactic_set)
    return (weighted_mean(policy, batch["policy_weight"]),
            weighted_mean(value, batch["value_weight"]),
            weighted_mean(reply, batch["reply_weight"]),
            weighted_mean(tactics, batch["tactics_weight"]), hits)


def held_out_scores(model, pos, batch=1024):
    """Held-out policy loss and top-1 (fully searched moves), value loss (all)."""
    if len(pos) == 0:
        return float("nan"), float("nan"), float("nan")
    model.eval()
    sums = np.zeros(4)
    with torch.no_grad():
        for start in range(0, len(pos), batch):
            rows = np.arange(start, min(len(pos), start + batch))
            t = selfplay_tensors(pos, rows)
            p, v, _, _, hits = batch_losses(model, t)
            full = float(t["policy_weight"].sum())
            sums += (float(p) * full, float(v) * len(rows), float(hits), full)
    model.train()
    full = max(1.0, sums[3])
    return sums[0] / full, sums[1] / len(pos), sums[2] / full


def write_metrics(path, row):
    new = not os.path.exists(path)
    with open(path, "a", newline="") as out:
        writer = csv.DictWriter(out, METRIC_FIELDS)
        if new:
            writer.writeheader()
        writer.writerow(row)


def planned_steps(args, positions):
    """`--steps`, cut to `--max-passes` passes over the self-play positions
    when given: a small replay window (a new machine, the first rounds) would
    otherwise be seen many times over, and the value head learns each game's
    few results by heart."""
    if args.max_passes is None:
        return args.steps
    per_step = args.batch * (1 - args.teacher_share - args.openings_share)
    return min(args.steps, max(1, math.ceil(args.max_passes * positions / per_step)))


def train(args):
    torch.manual_seed(args.seed)
    model = load_start(args.init).to(memory_format=torch.channels_last)
    label_paths = data.expand_paths(args.labels) if args.labels else []
    train_games, held_games, train_labels = split_games(data.expand_paths(args.selfplay),
                                                        args.held_out, label_paths)
    positions = selfplay.Positions(train_games, prune_visits=args.prune_visits,
                                   labels=train_labels)
    held = selfplay.Positions(held_games, prune_visits=args.prune_visits)
    teacher = data.load_records(data.expand_paths(args.teacher)) if args.teacher_share else None
    openings = (data.load_records(data.expand_paths(args.openings)) if args.openings_share
                else None)
    print(f"{len(train_games)} games, {len(positions)} positions ({int(positions.full.sum())} "
          f"with visits) for training; {len(held)} held out; network {model.net.arch}",
          file=sys.stderr)
    if train_labels is not None:
        kinds = np.bincount(positions.label_kind, minlength=5)
        print(f"labels: win {kinds[labels.WIN]}, defend {kinds[labels.DEFEND]}, "
              f"lost {kinds[labels.LOST]}, no VCF {kinds[labels.NONE]}, "
              f"unknown {kinds[labels.UNKNOWN]}", file=sys.stderr)
    if len(positions) == 0:
        raise ValueError("no self-play positions to train on")
    os.makedirs(args.out, exist_ok=True)
    metrics = os.path.join(args.out, "metrics.csv")
    if os.path.exists(metrics):
        os.remove(metrics)
    batches = Batches(positions, teacher, args.teacher_share, args.fast_value_weight, args.seed,
                      openings, args.openings_share, args.search_value_mix)
    optimizer = torch.optim.Adam(model.parameters(), lr=args.lr)
    start = time.monotonic()
    initial = held_out_scores(model, held)
    write_metrics(metrics, score_row(0, [float("nan")] * 6, initial, 0.0))
    sums, count = np.zeros(6), 0
    bar = ProgressBar()
    planned = planned_steps(args, len(positions))
    steps = planned
    for step in range(1, planned + 1):
        if args.minutes is not None and time.monotonic() - start > args.minutes * 60:
            steps = step - 1
            break
        p, v, r, t, _ = batch_losses(model, batches.next(args.batch))
        l2 = args.l2 * model.l2_penalty()
        loss = p + v + args.reply_weight * r + args.label_weight * t + l2
        if not torch.isfinite(loss):
            raise FloatingPointError(f"the loss became {float(loss)} at step {step}")
        optimizer.zero_grad(set_to_none=True)
        loss.backward()
        optimizer.step()
        sums += (float(loss), float(p), float(v), float(r), float(t), float(l2))
        count += 1
        if step % args.eval_every == 0 or step == planned:
            scores = held_out_scores(model, held)
            write_metrics(metrics, score_row(step, sums / count, scores,
                                             time.monotonic() - start))
            sums, count = np.zeros(6), 0
        spent = time.monotonic() - start
        done = step / planned
        if args.minutes is not None:
            done = max(done, spent / (args.minutes * 60))
        bar.update(done, spent / done - spent, f"step {step} loss {float(loss):.4f}")
    bar.close()
    if steps < planned and count:
        write_metrics(metrics, score_row(steps, sums / count, held_out_scores(model, held),
                                         time.monotonic() - start))
    final = held_out_scores(model, held)
    references = {path: held_out_scores(TrainingNet(weights.load(path)), held)
                  for path in args.reference}
    return model, positions, held, initial, final, references, time.monotonic() - start, steps


def score_row(step, means, scores, elapsed):
    return {"step": step, "train_loss": f"{means[0]:.6f}", "train_policy_loss": f"{means[1]:.6f}",
            "train_value_loss": f"{means[2]:.6f}", "train_reply_loss": f"{means[3]:.6f}",
            "train_tactics_loss": f"{means[4]:.6f}", "l2_loss": f"{means[5]:.6f}",
            "val_policy_loss": f"{scores[0]:.6f}",
            "val_value_loss": f"{scores[1]:.6f}", "val_top1": f"{scores[2]:.6f}",
            "elapsed_s": f"{elapsed:.1f}"}


def scores_dict(scores):
    return {"policy_loss": scores[0], "value_loss": scores[1], "top1": scores[2]}


def main(argv=None):
    args = parse_args(argv)
    torch.set_num_threads(args.threads)
    try:
        model, positions, held, initial, final, refs, elapsed, steps = train(args)
    except (OSError, ValueError, FloatingPointError) as err:
        print(f"error: {err}", file=sys.stderr)
        return 1
    plots.plot_run(args.out)
    network = os.path.join(args.out, "network.bin")
    clamped = weights.export(model.net, network)
    if clamped:
        print(f"warning: {clamped} weights clamped to +-{weights.WEIGHT_LIMIT}", file=sys.stderr)
    torch.save({"arch": str(model.net.arch), "model": model.state_dict()},
               os.path.join(args.out, "checkpoint.pt"))
    summary = {"steps": steps, "positions": len(positions),
               "full_positions": int(positions.full.sum()), "held_out_positions": len(held),
               "seconds": round(elapsed, 1), "start": scores_dict(initial),
               "final": scores_dict(final),
               "references": {os.path.basename(k): scores_dict(v) for k, v in refs.items()}}
    with open(os.path.join(args.out, "summary.json"), "w") as out:
        json.dump(summary, out, indent=1)
    print(f"{steps} steps in {format_duration(elapsed)}; held out: policy loss "
          f"{initial[0]:.4f} -> {final[0]:.4f}, value loss {initial[1]:.4f} -> {final[1]:.4f}, "
          f"top-1 {initial[2] * 100:.1f}% -> {final[2] * 100:.1f}%; wrote {network}",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
