"""Supervised training of the network on teacher games.

  python3 -m quoribo.train --data 'games/*.bin' --arch 20,4,32,32 --minutes 60 --out runs/a

Loss: policy cross-entropy over the empty cells (occupied cells are masked,
which gives the same distribution as the engine's softmax followed by its
masking) + value binary cross-entropy against the game result + an L2 penalty
on the weights. Every position gets a random one of the 8 board symmetries.

The run directory holds checkpoint.pt (the run resumes from it when started
again with the same --out), metrics.csv, losses.png and the final network.bin.
"""

import argparse
import csv
import math
import os
import sys
import time

import torch
import torch.nn.functional as fn

from . import data, labels, plots, weights
from .model import Arch, QuoriboNet, encode_planes
from .progress import ProgressBar, format_duration

DEFAULT_ARCH = "20,4,32,32"
METRIC_FIELDS = ["step", "epoch", "train_loss", "train_policy_loss", "train_value_loss",
                 "l2_loss", "val_policy_loss", "val_value_loss", "val_top1", "elapsed_s"]


def parse_args(argv):
    p = argparse.ArgumentParser(prog="python3 -m quoribo.train", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--data", nargs="+", required=True, help="record files or glob patterns")
    p.add_argument("--arch", help=f"N,B,F,H (default {DEFAULT_ARCH}; taken from the checkpoint "
                                  "when resuming)")
    budget = p.add_mutually_exclusive_group()
    budget.add_argument("--epochs", type=float, help="train until this many epochs in all "
                                                     "(default 1)")
    budget.add_argument("--minutes", type=float, help="train for this long in this run")
    p.add_argument("--batch", type=int, default=256)
    p.add_argument("--lr", type=float, default=1e-3, help="Adam learning rate")
    p.add_argument("--l2", type=float, default=1e-4, help="weight of the L2 penalty")
    p.add_argument("--held-out", type=float, default=0.05,
                   help="fraction of records kept out of training for the metrics")
    p.add_argument("--eval-every", type=int, default=500, help="steps between metric rows")
    p.add_argument("--eval-positions", type=int, default=4096,
                   help="held-out positions scored for each metric row (0: all of them)")
    p.add_argument("--checkpoint-minutes", type=float, default=5.0)
    p.add_argument("--no-augment", action="store_true", help="train without the symmetries")
    p.add_argument("--threads", type=int, default=2, help="torch CPU threads")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--labels", nargs="+", help="tactical label files (quoribo-label), one per "
                                               "record file in the same order")
    p.add_argument("--init-weights", help="a network.bin to start from (when not resuming)")
    p.add_argument("--out", required=True, help="run directory")
    args = p.parse_args(argv)
    if args.epochs is None and args.minutes is None:
        args.epochs = 1.0
    for name in ("batch", "eval_every", "threads"):
        if getattr(args, name) < 1:
            p.error(f"--{name.replace('_', '-')} must be at least 1")
    if args.eval_positions < 0:
        p.error("--eval-positions must not be negative")
    if not 0 <= args.held_out < 1:
        p.error("--held-out must be in [0, 1)")
    if (args.epochs is not None and args.epochs <= 0) or (args.minutes is not None
                                                          and args.minutes <= 0):
        p.error("the training budget must be positive")
    return args


def losses(model, boards, moves, values, mask=None):
    """(policy CE, value BCE, top-1 hits) for a batch of side-to-move boards.
    With a target `mask` (labels.target_mask) the policy loss and the hits
    are for the target sets."""
    # Channels-last tensors take torch's faster CPU convolutions.
    planes = encode_planes(boards).contiguous(memory_format=torch.channels_last)
    logits, value_logits = model(planes)
    logits = logits.masked_fill(boards != 0, float("-inf"))
    value_loss = fn.binary_cross_entropy_with_logits(value_logits, values)
    if mask is not None:
        favourite = logits.argmax(dim=1, keepdim=True)
        return (labels.set_policy_loss(logits, mask), value_loss,
                mask.gather(1, favourite).sum())
    policy_loss = fn.cross_entropy(logits, moves)
    hits = (logits.argmax(dim=1) == moves).sum()
    return policy_loss, value_loss, hits


def target_mask(dataset, moves):
    """The batch's target mask when the data carries label sets, else None."""
    if dataset.targets is None:
        return None
    return labels.target_mask(dataset.targets, dataset.has_targets, moves)


def evaluate(model, dataset, batch=1024):
    """Mean held-out policy loss, value loss and top-1 accuracy."""
    if len(dataset) == 0:
        return math.nan, math.nan, math.nan
    model.eval()
    policy_sum = value_sum = hits = 0.0
    with torch.no_grad():
        for start in range(0, len(dataset), batch):
            part = dataset.subset(slice(start, start + batch))
            p, v, h = losses(model, part.boards, part.moves, part.values,
                             target_mask(part, part.moves))
            policy_sum += float(p) * len(part)
            value_sum += float(v) * len(part)
            hits += float(h)
    model.train()
    return policy_sum / len(dataset), value_sum / len(dataset), hits / len(dataset)


class Trainer:
    def __init__(self, args):
        self.args = args
        self.checkpoint_path = os.path.join(args.out, "checkpoint.pt")
        self.metrics_path = os.path.join(args.out, "metrics.csv")
        self.step = 0
        self.epoch = 0
        self.batch_in_epoch = 0
        self.elapsed_before = 0.0
        self.seed = args.seed
        saved = self._load_checkpoint()
        arch = Arch.parse(saved["arch"] if saved else args.arch or DEFAULT_ARCH)
        if saved and args.arch and Arch.parse(args.arch) != arch:
            raise ValueError(f"{self.checkpoint_path} holds a {arch} network, not {args.arch}; "
                             "choose another --out")
        arch.check()
        if arch.board_size != data.BOARD_SIZE:
            raise ValueError(f"the records are for a {data.BOARD_SIZE}x{data.BOARD_SIZE} board")
        torch.manual_seed(self.seed)
        self.model = QuoriboNet(arch).to(memory_format=torch.channels_last)
        self.optimizer = torch.optim.Adam(self.model.parameters(), lr=args.lr)
        if not saved and args.init_weights:
            start = weights.load(args.init_weights)
            if start.arch != arch:
                raise ValueError(f"{args.init_weights} holds a {start.arch} network, not {arch}")
            self.model.load_state_dict(start.state_dict())
        if saved:
            self.model.load_state_dict(saved["model"])
            self.optimizer.load_state_dict(saved["optimizer"])
            for group in self.optimizer.param_groups:
                group["lr"] = args.lr
            self.step, self.epoch = saved["step"], saved["epoch"]
            self.batch_in_epoch = saved["batch_in_epoch"]
            self.elapsed_before = saved["elapsed"]
            self.seed = saved["seed"]
        self.augmenter = data.Augmenter(arch.board_size)

    def _load_checkpoint(self):
        if not os.path.exists(self.checkpoint_path):
            return None
        saved = torch.load(self.checkpoint_path, map_location="cpu", weights_only=False)
        print(f"resuming from {self.checkpoint_path} at step {saved['step']}", file=sys.stderr)
        return saved

    def save_checkpoint(self, elapsed):
        state = {"arch": str(self.model.arch), "model": self.model.state_dict(),
                 "optimizer": self.optimizer.state_dict(), "step": self.step,
                 "epoch": self.epoch, "batch_in_epoch": self.batch_in_epoch,
                 "elapsed": elapsed, "seed": self.seed}
        temporary = self.checkpoint_path + ".tmp"
        torch.save(state, temporary)
        os.replace(temporary, self.checkpoint_path)

    def _trim_metrics(self):
        """Drops rows written after the checkpoint a resumed run starts from."""
        if not os.path.exists(self.metrics_path):
            return
        with open(self.metrics_path, newline="") as src:
            rows = [r for r in csv.DictReader(src) if int(r["step"]) <= self.step]
        with open(self.metrics_path, "w", newline="") as out:
            writer = csv.DictWriter(out, METRIC_FIELDS)
            writer.writeheader()
            writer.writerows(rows)

    def _write_metrics(self, row):
        new = not os.path.exists(self.metrics_path)
        with open(self.metrics_path, "a", newline="") as out:
            writer = csv.DictWriter(out, METRIC_FIELDS)
            if new:
                writer.writeheader()
            writer.writerow(row)

    def run(self, train_set, held_set):
        """Trains until the budget is spent; returns the held-out (policy loss,
        value loss, top-1) and the total training time, or (None, None) when
        interrupted (after saving a checkpoint)."""
        os.makedirs(self.args.out, exist_ok=True)
        self._trim_metrics()
        self.train_set, self.held_set = train_set, held_set
        self.batches_per_epoch = max(1, math.ceil(len(train_set) / self.args.batch))
        self.total_steps = None
        if self.args.epochs is not None:
            self.total_steps = int(math.ceil(self.args.epochs * self.batches_per_epoch))
        self.start = time.monotonic()
        self.first_step = self.step
        self.loss_sums = [0.0, 0.0, 0.0, 0.0]
        self.unreported_steps = 0
        bar = ProgressBar()
        self.model.train()
        try:
            self._train(bar)
        except KeyboardInterrupt:
            bar.close()
            self.save_checkpoint(self._elapsed())
            print(f"interrupted at step {self.step}; saved {self.checkpoint_path}, run the "
                  "same command again to resume", file=sys.stderr)
            return None, None
        bar.close()
        val = self._write_row() if self.unreported_steps else evaluate(self.model, held_set)
        self.save_checkpoint(self._elapsed())
        return val, self._elapsed()

    def _elapsed(self):
        return self.elapsed_before + time.monotonic() - self.start

    def _budget_left(self):
        if self.total_steps is not None:
            return self.step < self.total_steps
        return time.monotonic() - self.start < self.args.minutes * 60

    def _train(self, bar):
        last_checkpoint = self.start
        while self._budget_left():
            # Orders and symmetries come from seeds fixed by the epoch and the
            # step, so a resumed run continues exactly as an uninterrupted one.
            shuffle = torch.Generator().manual_seed(self.seed * 7919 + self.epoch)
            order = torch.randperm(len(self.train_set), generator=shuffle)
            while self.batch_in_epoch < self.batches_per_epoch and self._budget_left():
                start_row = self.batch_in_epoch * self.args.batch
                loss = self._step(order[start_row:start_row + self.args.batch])
                if self.step % self.args.eval_every == 0:
                    self._write_row()
                now = time.monotonic()
                if now - last_checkpoint > self.args.checkpoint_minutes * 60:
                    self.save_checkpoint(self._elapsed())
                    last_checkpoint = now
                self._show(bar, loss)
            if self.batch_in_epoch >= self.batches_per_epoch:
                self.epoch += 1
                self.batch_in_epoch = 0

    def _step(self, index):
        part = self.train_set.subset(index)
        boards, moves, mask = part.boards, part.moves, target_mask(part, part.moves)
        if not self.args.no_augment:
            rng = torch.Generator().manual_seed(self.seed * 104729 + self.step)
            if mask is None:
                boards, moves = self.augmenter.random(boards, moves, rng)
            else:
                boards, moves, mask = labels.augment(self.augmenter, boards, moves, mask, rng)
        policy_loss, value_loss, _ = losses(self.model, boards, moves, part.values, mask)
        l2_loss = self.args.l2 * self.model.l2_penalty()
        loss = policy_loss + value_loss + l2_loss
        if not torch.isfinite(loss):
            raise FloatingPointError(f"the loss became {float(loss)} at step {self.step}; "
                                     "try a lower --lr")
        self.optimizer.zero_grad(set_to_none=True)
        loss.backward()
        self.optimizer.step()
        self.step += 1
        self.batch_in_epoch += 1
        for i, x in enumerate((loss, policy_loss, value_loss, l2_loss)):
            self.loss_sums[i] += float(x)
        self.unreported_steps += 1
        return float(loss)

    def _show(self, bar, loss):
        spent = time.monotonic() - self.start
        if self.total_steps is not None:
            run_steps = self.step - self.first_step
            done = run_steps / max(1, self.total_steps - self.first_step)
            eta = spent / max(1, run_steps) * (self.total_steps - self.step)
        else:
            done, eta = spent / (self.args.minutes * 60), self.args.minutes * 60 - spent
        bar.update(done, eta, f"step {self.step} epoch {self.epoch} loss {loss:.4f}")

    def _write_row(self):
        """Appends a metrics row: training means since the last row, held-out scores."""
        val = evaluate(self.model, self.held_set)
        means = [s / max(1, self.unreported_steps) for s in self.loss_sums]
        epoch = self.epoch + self.batch_in_epoch / self.batches_per_epoch
        self._write_metrics({
            "step": self.step, "epoch": f"{epoch:.4f}",
            "train_loss": f"{means[0]:.6f}", "train_policy_loss": f"{means[1]:.6f}",
            "train_value_loss": f"{means[2]:.6f}", "l2_loss": f"{means[3]:.6f}",
            "val_policy_loss": f"{val[0]:.6f}", "val_value_loss": f"{val[1]:.6f}",
            "val_top1": f"{val[2]:.6f}", "elapsed_s": f"{self._elapsed():.1f}"})
        self.loss_sums = [0.0, 0.0, 0.0, 0.0]
        self.unreported_steps = 0
        return val


def main(argv=None):
    args = parse_args(argv)
    torch.set_num_threads(args.threads)
    try:
        paths = data.expand_paths(args.data)
        records = data.load_records(paths)
        dataset = data.Dataset(records)
        if args.labels:
            counts = [os.path.getsize(path) // data.RECORD.itemsize for path in paths]
            labels.apply(dataset, records,
                         labels.load_labels(data.expand_paths(args.labels), counts))
        trainer = Trainer(args)
    except (OSError, ValueError) as err:
        print(f"error: {err}", file=sys.stderr)
        return 1
    train_set, held_set = dataset.split(args.held_out)
    print(f"{len(train_set)} training positions, {len(held_set)} held out; network "
          f"{trainer.model.arch}", file=sys.stderr)
    if args.eval_positions and len(held_set) > args.eval_positions:
        # The same positions every time, so that the metric rows compare.
        held_set = held_set.subset(slice(0, args.eval_positions))
    try:
        val, elapsed = trainer.run(train_set, held_set)
    except FloatingPointError as err:
        print(f"error: {err}", file=sys.stderr)
        return 1
    plots.plot_run(args.out)
    if val is None:
        return 130
    network = os.path.join(args.out, "network.bin")
    clamped = weights.export(trainer.model, network)
    if clamped:
        print(f"warning: {clamped} weights clamped to +-{weights.WEIGHT_LIMIT}", file=sys.stderr)
    print(f"step {trainer.step}, {format_duration(elapsed)} in all; held out: policy loss "
          f"{val[0]:.4f}, value loss {val[1]:.4f}, top-1 {val[2] * 100:.1f}%; wrote {network}",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
