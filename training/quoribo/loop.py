"""The reinforcement-learning loop: self-play, train, gate, promote.

  cd training && nice -n 10 /usr/bin/python3 -m quoribo.loop --hours 6 [--commit]

Each round:
1. the current best network plays `games_per_round` self-play games
   (quoribo-selfplay play, seed 1000 + round);
2. a candidate is trained from the best on the replay window, the last
   `window_rounds` rounds' games (with `labels`, every searched position
   labelled by the solver's exact tactics first: quoribo-label --selfplay,
   at most `label_nodes` nodes a search, the label loss weighted
   `label_weight`; with `search_value_mix`, the value target mixes the
   search's root winning rate into the game's result), with teacher records
   mixed in at a share
   that falls by `teacher_share_drop` a round (quoribo.reinforce), and the
   teacher's first moves from an empty board (`opening_games` games, positions
   of at most `opening_max_stones` stones) at a share of their own,
   `opening_share`, that does not fall;
3. the candidate plays the best at `gate_sims` simulations per move, openings
   with colours swapped, until the SPRT decides or `gate_games` are played
   (quoribo-selfplay gate);
4. a candidate the SPRT accepts is confirmed through the real protocol:
   `confirm_games` games of the two brains with quoribo-match at
   `confirm_turn_ms` per move, where it must score at least half the points;
5. a confirmed candidate becomes the next generation.

Settings: weights/selfplay/loop.json. State kept in the repository (and
committed at every promotion with --commit): weights/history/gen-NNN.bin (every
generation; the newest is the best), weights/selfplay/generations.csv (one row
per round), weights/selfplay/rounds/round-NNN/ (training metrics, gating and
confirmation output) and weights/selfplay/elo.png. Bulky and local:
training/data/selfplay/ (the games) and training/runs/loop/ (training runs).
The promoted round's checkpoint.pt (the network with its helper head) is kept
beside its records, so the next generation trains on from it anywhere.
Every step resumes where it stopped: the round a new start works on is the
one after the table's last row, and its finished steps are not redone. A
round's games go on from the last complete game only when they were started
by the same network, seed and search settings (round-NNN.json beside them
says which); otherwise the file is set aside as round-NNN.bin.stale and the
round is played again. On a new machine without the games the replay window
refills as rounds are played.
"""

import argparse
import csv
import hashlib
import json
import math
import os
import re
import shutil
import subprocess
import sys
import time

import numpy as np

from . import data, selfplay

LABEL_BYTES = 54  # one quoribo-label label (tools/quoribo-label/FORMAT.md)
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class Paths:
    """Where the loop keeps things, under a repository root."""

    def __init__(self, root):
        self.root = root
        self.settings = os.path.join(root, "weights", "selfplay", "loop.json")
        self.table = os.path.join(root, "weights", "selfplay", "generations.csv")
        self.rounds = os.path.join(root, "weights", "selfplay", "rounds")
        self.history = os.path.join(root, "weights", "history")
        self.plot = os.path.join(root, "weights", "selfplay", "elo.png")
        self.games = os.path.join(root, "training", "data", "selfplay")
        self.runs = os.path.join(root, "training", "runs", "loop")
        self.teacher = os.path.join(root, "training", "data", "teacher.bin")
        self.openings = os.path.join(root, "training", "data", "openings.bin")

    def generation(self, generation):
        return os.path.join(self.history, f"gen-{generation:03d}.bin")


FIELDS = ["round", "generation", "promoted", "games", "positions", "full_positions",
          "total_games", "steps", "teacher_share", "gate_games", "gate_wins", "gate_draws",
          "gate_losses", "gate_score", "gate_elo", "gate_low", "gate_high", "sprt",
          "confirm_score", "elo", "elo_error", "val_policy_loss", "val_value_loss",
          "gen0_val_value_loss", "finished"]


def log(text):
    stamp = time.strftime("%Y-%m-%d %H:%M:%S")
    print(f"[{stamp}] {text}", flush=True)


def run(command, output=None):
    """Runs a command, its output appended to `output` (a path) or shown."""
    log("$ " + " ".join(command))
    if output is None:
        subprocess.run(command, check=True)
        return
    with open(output, "a") as out:
        subprocess.run(command, check=True, stdout=out, stderr=subprocess.STDOUT)


def read_table(paths):
    if not os.path.exists(paths.table):
        return []
    with open(paths.table, newline="") as src:
        return list(csv.DictReader(src))


def append_row(paths, row):
    new = not os.path.exists(paths.table)
    with open(paths.table, "a", newline="") as out:
        writer = csv.DictWriter(out, FIELDS)
        if new:
            writer.writeheader()
        writer.writerow(row)


def best_generation(rows):
    return int(rows[-1]["generation"]) if rows else 0


def round_name(r):
    return f"round-{r:03d}"


# Optional self-play settings of loop.json and the quoribo-selfplay options
# they set; absent, the tool's defaults hold.
VARIETY = {"temp_stones": "--temp-stones", "temperature": "--temperature",
           "empty_start": "--empty-start", "opening_stones": "--opening-stones"}


def count_games(path):
    """Complete games in a self-play file; 0 when there is none or it is
    damaged, which leaves it to quoribo-selfplay to keep the sound games before
    the damage and play on."""
    if not os.path.exists(path):
        return 0
    try:
        return len(selfplay.read_games(path))
    except ValueError:
        return 0


def keep_openings(games, out, max_stones):
    """Writes to `out` the records of `games` (teacher records) with at most
    `max_stones` stones on the board, through a temporary file so that an
    interrupted write never leaves a partial file under the final name."""
    records = np.fromfile(games, dtype=data.RECORD)
    early = records[np.count_nonzero(records["cells"], axis=1) <= max_stones]
    early.tofile(out + ".part")
    os.replace(out + ".part", out)
    return len(early)


def file_digest(path):
    with open(path, "rb") as src:
        return hashlib.sha256(src.read()).hexdigest()


class Loop:
    def __init__(self, args):
        self.paths = Paths(os.path.abspath(args.root))
        with open(self.paths.settings) as src:
            self.cfg = json.load(src)
        self.bin = os.path.abspath(args.bin)
        self.commit = args.commit
        tools = ["quoribo-selfplay", "quoribo-match", "pbrain-quoribo", "quoribo-teachergen"]
        for tool in tools + (["quoribo-label"] if self.cfg.get("labels") else []):
            if not os.access(os.path.join(self.bin, tool), os.X_OK):
                raise SystemExit(f"{tool} is not built in {self.bin}")

    def tool(self, name):
        return os.path.join(self.bin, name)

    def play_round(self, r, best):
        c = self.cfg
        games = os.path.join(self.paths.games, round_name(r) + ".bin")
        os.makedirs(self.paths.games, exist_ok=True)
        # Games of another network or other settings (a different history of
        # the table, an edited loop.json, a file from before these stamps)
        # must not be mixed into the round: set them aside.
        stamp = os.path.join(self.paths.games, round_name(r) + ".json")
        started = {"network": file_digest(best), "seed": 1000 + r,
                   **{k: c[k] for k in ("full_sims", "fast_sims", "full_share")},
                   **{k: c[k] for k in VARIETY if k in c}}
        previous = None
        if os.path.exists(stamp):
            with open(stamp) as src:
                previous = json.load(src)
        if os.path.exists(games) and previous != started:
            log(f"round {r}: {games} was not started by this network and these settings; "
                "set aside, the round starts again")
            os.replace(games, games + ".stale")
        if previous != started:
            with open(stamp, "w") as out:
                json.dump(started, out, indent=1)
        if count_games(games) < c["games_per_round"]:
            run([self.tool("quoribo-selfplay"), "play", best, games,
                 "--games", str(c["games_per_round"]), "--seed", str(1000 + r),
                 "--workers", str(c["workers"]), "--full-sims", str(c["full_sims"]),
                 "--fast-sims", str(c["fast_sims"]), "--full-share", str(c["full_share"]),
                 *[arg for k, flag in VARIETY.items() if k in c for arg in (flag, str(c[k]))]],
                os.path.join(self.paths.games, round_name(r) + ".log"))
        return games

    def teacher_share(self, r):
        c = self.cfg
        return max(0.0, round(c["teacher_share_first"] - c["teacher_share_drop"] * (r - 1), 4))

    def train_round(self, r, best_init, rows):
        c = self.cfg
        out = os.path.join(self.paths.runs, round_name(r))
        if os.path.exists(os.path.join(out, "summary.json")):
            return out
        window = [os.path.join(self.paths.games, round_name(k) + ".bin")
                  for k in range(max(1, r - c["window_rounds"] + 1), r + 1)]
        window = [p for p in window if os.path.exists(p)]
        share = self.teacher_share(r)
        command = [sys.executable, "-m", "quoribo.reinforce", "--init", best_init,
                   "--selfplay", *window, "--steps", str(c["steps"]), "--batch", str(c["batch"]),
                   "--lr", str(c["lr"]), "--seed", str(r), "--out", out,
                   "--reference", self.paths.generation(0)]
        if share > 0:
            if not os.path.exists(self.paths.teacher):
                os.makedirs(os.path.dirname(self.paths.teacher), exist_ok=True)
                run([self.tool("quoribo-teachergen"), self.paths.teacher, "--games",
                     str(c["teacher_games"]), "--seed", "11"])
            command += ["--teacher", self.paths.teacher, "--teacher-share", str(share)]
        if c.get("max_passes"):
            command += ["--max-passes", str(c["max_passes"])]
        if c.get("search_value_mix"):
            command += ["--search-value-mix", str(c["search_value_mix"])]
        if c.get("labels"):
            command += ["--labels", *[self.label_games(p) for p in window],
                        "--label-weight", str(c.get("label_weight", 1.0))]
        if c.get("opening_share"):
            command += ["--openings", *self.openings(), "--openings-share",
                        str(c["opening_share"])]
        os.makedirs(out, exist_ok=True)
        log("$ " + " ".join(command))
        with open(os.path.join(out, "train.log"), "a") as err:
            subprocess.run(command, check=True, cwd=os.path.join(REPO, "training"), stderr=err)
        return out

    def label_games(self, games):
        """The solver's labels of a self-play file (GAMES.labels beside it),
        made when missing or not of this file's searched moves. The labels
        are written under a temporary name, so an interrupted run never
        leaves a partial file behind."""
        out = os.path.splitext(games)[0] + ".labels"
        searched = sum(len(g.full) for g in selfplay.read_games(games))
        if os.path.exists(out) and os.path.getsize(out) == searched * LABEL_BYTES:
            return out
        command = [self.tool("quoribo-label"), games, out + ".part", "--selfplay",
                   "--threads", str(self.cfg["workers"])]
        if self.cfg.get("label_nodes"):
            command += ["--nodes", str(self.cfg["label_nodes"])]
        run(command, os.path.splitext(games)[0] + ".labels.log")
        os.replace(out + ".part", out)
        return out

    def openings(self):
        """The teacher's first moves from an empty board (none when
        `opening_games` is 0). The teacher games start from random central
        stones, and self-play's visit counts on an empty board only echo the
        network's own prior, which on an empty board is the convolutions'
        response to the board's edges: without these records the network
        opens in a corner."""
        c = self.cfg
        if not c.get("opening_games"):
            return []
        if not os.path.exists(self.paths.openings):
            games = self.paths.openings + ".games"
            os.makedirs(os.path.dirname(games), exist_ok=True)
            run([self.tool("quoribo-teachergen"), games, "--games", str(c["opening_games"]),
                 "--seed", "12", "--random-openings", "0", "--threads", str(c["workers"])])
            keep_openings(games, self.paths.openings, c["opening_max_stones"])
            os.remove(games)
        return [self.paths.openings]

    def gate(self, r, best, candidate):
        c = self.cfg
        path = os.path.join(self.paths.runs, round_name(r), "gate.txt")
        result = parse_gate(path)
        if result is None:
            if os.path.exists(path):
                os.remove(path)
            run([self.tool("quoribo-selfplay"), "gate", best, candidate,
                 "--games", str(c["gate_games"]), "--seed", str(5000 + r),
                 "--sims", str(c["gate_sims"]), "--workers", str(c["workers"]),
                 "--elo0", str(c["sprt_elo0"]), "--elo1", str(c["sprt_elo1"]),
                 "--sprt-alpha", str(c["sprt_alpha"]), "--sprt-beta", str(c["sprt_beta"])], path)
            result = parse_gate(path)
        return result

    def confirm(self, r, best, candidate):
        """The candidate's score against the best through the protocol."""
        c = self.cfg
        path = os.path.join(self.paths.runs, round_name(r), "confirm.txt")
        score = parse_match(path)
        if score is not None:
            return score
        brains = []
        for name, network in (("candidate", candidate), ("best", best)):
            folder = os.path.join(self.paths.runs, round_name(r), "brain-" + name)
            os.makedirs(folder, exist_ok=True)
            shutil.copy(self.tool("pbrain-quoribo"), folder)
            shutil.copy(network, os.path.join(folder, "network.bin"))
            brains.append(os.path.join(folder, "pbrain-quoribo"))
        if os.path.exists(path):
            os.remove(path)
        run([self.tool("quoribo-match"), "--games", str(c["confirm_games"]),
             "--turn", str(c["confirm_turn_ms"]), "--random-openings", "2", "--swap",
             "--seed", str(r), "--quiet", *brains], path)
        return parse_match(path)

    def round(self, r):
        rows = read_table(self.paths)
        generation = best_generation(rows)
        best = self.paths.generation(generation)
        log(f"round {r}: generation {generation} plays")
        games = self.play_round(r, best)
        # The best's own training checkpoint keeps its helper head; a fresh
        # machine starts the head anew from the network file.
        promoted_in = [int(x["round"]) for x in rows if x["promoted"] == "1"]
        init = best
        if promoted_in:
            name = round_name(promoted_in[-1])
            for folder in (os.path.join(self.paths.runs, name), os.path.join(self.paths.rounds, name)):
                checkpoint = os.path.join(folder, "checkpoint.pt")
                if os.path.exists(checkpoint):
                    init = checkpoint
                    break
        log(f"round {r}: training from {os.path.relpath(init, REPO)}")
        out = self.train_round(r, init, rows)
        candidate = os.path.join(out, "network.bin")
        with open(os.path.join(out, "summary.json")) as src:
            summary = json.load(src)
        log(f"round {r}: gating")
        gate = self.gate(r, best, candidate)
        promoted, confirm = False, ""
        if gate["decision"] == "accept":
            log(f"round {r}: confirming through the protocol")
            confirm = self.confirm(r, best, candidate)
            promoted = confirm >= 0.5
        self.record(r, rows, generation, promoted, games, summary, gate, confirm, candidate)

    def record(self, r, rows, generation, promoted, games, summary, gate, confirm, candidate):
        c = self.cfg
        prior_elo = float(rows[-1]["elo"]) if rows else 0.0
        prior_err = float(rows[-1]["elo_error"]) if rows else 0.0
        elo, err = prior_elo, prior_err
        if promoted:
            generation += 1
            shutil.copy(candidate, self.paths.generation(generation))
            half = (gate["high"] - gate["low"]) / 2 / 1.96
            elo, err = prior_elo + gate["elo"], math.hypot(prior_err, half)
        keep = os.path.join(self.paths.rounds, round_name(r))
        os.makedirs(keep, exist_ok=True)
        kept = ["metrics.csv", "summary.json", "gate.txt", "confirm.txt", "losses.png"]
        for name in kept + (["checkpoint.pt"] if promoted else []):
            source = os.path.join(self.paths.runs, round_name(r), name)
            if os.path.exists(source):
                shutil.copy(source, keep)
        games_played = count_games(games)
        total = (int(rows[-1]["total_games"]) if rows else 0) + games_played
        gen0 = summary["references"].get(os.path.basename(self.paths.generation(0)), {})
        append_row(self.paths, {
            "round": r, "generation": generation, "promoted": int(promoted),
            "games": games_played, "positions": summary["positions"],
            "full_positions": summary["full_positions"], "total_games": total,
            "steps": summary["steps"], "teacher_share": self.teacher_share(r),
            "gate_games": gate["games"], "gate_wins": gate["wins"], "gate_draws": gate["draws"],
            "gate_losses": gate["losses"], "gate_score": f"{gate['score']:.3f}",
            "gate_elo": f"{gate['elo']:.0f}", "gate_low": f"{gate['low']:.0f}",
            "gate_high": f"{gate['high']:.0f}", "sprt": gate["decision"],
            "confirm_score": "" if confirm == "" else f"{confirm:.3f}",
            "elo": f"{elo:.0f}", "elo_error": f"{err:.0f}",
            "val_policy_loss": f"{summary['final']['policy_loss']:.4f}",
            "val_value_loss": f"{summary['final']['value_loss']:.4f}",
            "gen0_val_value_loss": f"{gen0.get('value_loss', float('nan')):.4f}",
            "finished": time.strftime("%Y-%m-%d %H:%M")})
        plot_elo(read_table(self.paths), self.paths.plot)
        log(f"round {r}: {'promoted to generation ' + str(generation) if promoted else 'kept'} "
            f"(gate {gate['wins']}-{gate['draws']}-{gate['losses']}, {gate['decision']})")
        if self.commit:
            self.commit_state(r, generation, promoted)

    def commit_state(self, r, generation, promoted):
        paths = [self.paths.table, self.paths.plot, os.path.join(self.paths.rounds, round_name(r))]
        if promoted:
            paths.append(self.paths.generation(generation))
        message = (f"Self-play round {r}: generation {generation} promoted" if promoted
                   else f"Self-play round {r}: candidate not promoted")
        try:
            subprocess.run(["git", "-C", self.paths.root, "add", *paths], check=True)
            subprocess.run(["git", "-C", self.paths.root, "commit", "-q", "-m", message, "--", *paths],
                           check=True)
        except subprocess.CalledProcessError as err:
            log(f"commit failed ({err}); the state is on disk and goes with the next commit")


def parse_gate(path):
    """The machine-readable last line of quoribo-selfplay gate, or None."""
    if not os.path.exists(path):
        return None
    with open(path) as src:
        lines = [line for line in src if line.startswith("gate ")]
    if not lines:
        return None
    fields = dict(item.split("=", 1) for item in lines[-1].split()[1:])
    out = {k: int(fields[k]) for k in ("games", "wins", "draws", "losses")}
    out.update({k: float(fields[k]) for k in ("score", "elo", "low", "high", "llr")})
    out["decision"] = fields["decision"]
    return out


def parse_match(path):
    """BRAIN1's score in a finished quoribo-match output, or None."""
    if not os.path.exists(path):
        return None
    with open(path) as src:
        text = src.read()
    found = re.search(r"wins (\d+)\s+losses (\d+)\s+draws (\d+)", text)
    if not found:
        return None
    wins, losses, draws = (int(x) for x in found.groups())
    games = wins + losses + draws
    return (wins + 0.5 * draws) / games if games else None


def plot_elo(rows, path):
    """Elo of each generation against generation 0, over the self-play games
    played before it was promoted."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    games, elo, err = [0], [0.0], [0.0]
    for row in rows:
        if row["promoted"] == "1":
            games.append(int(row["total_games"]))
            elo.append(float(row["elo"]))
            err.append(float(row["elo_error"]))
    fig, ax = plt.subplots(figsize=(7, 4.5))
    ax.errorbar(games, elo, yerr=[1.96 * e for e in err], marker="o", capsize=3)
    for g, (x, y) in enumerate(zip(games, elo)):
        ax.annotate(str(g), (x, y), textcoords="offset points", xytext=(4, -12))
    ax.set_xlabel("self-play games")
    ax.set_ylabel("Elo against generation 0 (95% interval)")
    ax.set_title("Generations promoted by gating")
    ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def main(argv=None):
    p = argparse.ArgumentParser(prog="python3 -m quoribo.loop", description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--hours", type=float, default=4.0,
                   help="start no new round after this long")
    p.add_argument("--rounds", type=int, default=0, help="stop after this many rounds (0: no limit)")
    p.add_argument("--bin", default=os.path.join(REPO, "build", "release", "bin"))
    p.add_argument("--root", default=REPO, help="repository whose state the loop keeps")
    p.add_argument("--commit", action="store_true",
                   help="commit the table, the round's records and a promoted network")
    args = p.parse_args(argv)
    loop = Loop(args)
    if not os.path.exists(loop.paths.generation(0)):
        raise SystemExit(f"{loop.paths.generation(0)} is missing: copy the starting network there")
    start, done = time.monotonic(), 0
    while time.monotonic() - start < args.hours * 3600 and (not args.rounds or done < args.rounds):
        rows = read_table(loop.paths)
        loop.round(int(rows[-1]["round"]) + 1 if rows else 1)
        done += 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
