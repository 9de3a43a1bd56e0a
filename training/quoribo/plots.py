"""Loss and accuracy curves from a training run's metrics.csv.

  python3 -m quoribo.plots RUN_DIR
"""

import csv
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (the backend must be chosen first)


def read_metrics(path):
    with open(path, newline="") as src:
        rows = list(csv.DictReader(src))
    return {key: [float(row[key]) for row in rows] for key in (rows[0] if rows else {})}


def plot_run(run_dir):
    """Writes RUN_DIR/losses.png; returns its path, or None without metrics."""
    metrics_path = os.path.join(run_dir, "metrics.csv")
    if not os.path.exists(metrics_path):
        return None
    m = read_metrics(metrics_path)
    if not m:
        return None
    steps = m["step"]
    fig, (ax_policy, ax_value, ax_top1) = plt.subplots(1, 3, figsize=(15, 4.5))
    ax_policy.plot(steps, m["train_policy_loss"], label="training")
    ax_policy.plot(steps, m["val_policy_loss"], label="held out")
    ax_policy.set_title("policy cross-entropy")
    ax_value.plot(steps, m["train_value_loss"], label="training")
    ax_value.plot(steps, m["val_value_loss"], label="held out")
    ax_value.set_title("value binary cross-entropy")
    ax_top1.plot(steps, [100 * a for a in m["val_top1"]], label="held out")
    ax_top1.set_title("policy top-1 accuracy (%)")
    for ax in (ax_policy, ax_value, ax_top1):
        ax.set_xlabel("step")
        ax.grid(alpha=0.3)
        ax.legend()
    fig.tight_layout()
    out = os.path.join(run_dir, "losses.png")
    fig.savefig(out, dpi=100)
    plt.close(fig)
    return out


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: python3 -m quoribo.plots RUN_DIR")
    written = plot_run(sys.argv[1])
    sys.exit(0 if written else f"no metrics in {sys.argv[1]}")
