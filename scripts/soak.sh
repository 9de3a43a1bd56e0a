#!/usr/bin/env bash
# Soak test of the brain through the real protocol; long, so not a unit test:
#
#   nice -n 10 scripts/soak.sh [GAMES] [TURN_MS]
#
# Plays GAMES games (default 500) of build/release's pbrain-quoribo against
# pbrain-pattern at TURN_MS per move (default 400) with quoribo-match: half
# with a fresh brain process per game, half with one process kept across games
# that begin alternately with START and RESTART. The brain's resident memory
# is logged after every move. Then the sanitizer build (build/asan) plays a
# few games of both kinds with LeakSanitizer watching its exits (its moves,
# several times slower, are not held to the time limit).
# Passes with 0 crashes, 0 illegal or late moves, every game recorded, the
# kept process's memory flat after its first game (under 1 MB of growth) and
# 0 leaks. Logs stay in the printed work folder. Each late move is listed with
# the processor time the brain used for it: far less than the limit means the
# brain was waiting for a processor, so the time limit is only a fair test on
# a machine with a core to spare.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
games="${1:-500}"
turn="${2:-400}"
release="$repo/build/release/bin"
asan="$repo/build/asan/bin"
for dir in "$release" "$asan"; do
    for tool in pbrain-quoribo pbrain-pattern quoribo-match network.bin; do
        [ -e "$dir/$tool" ] || { echo "missing $dir/$tool: run make release asan first"; exit 2; }
    done
done
work="$(mktemp -d /tmp/quoribo-soak-XXXXXX)"
echo "work folder: $work"

match() { # NAME BIN_DIR GAMES TURN_MS [options...]
    local name="$1" bin="$2" count="$3" ms="$4"
    shift 4
    "$bin/quoribo-match" --games "$count" --turn "$ms" --random-openings 2 --seed 11 --quiet \
        --rss-log "$work/$name.rss" "$@" "$bin/pbrain-quoribo" "$bin/pbrain-pattern" \
        > "$work/$name.txt"
}

started=$(date +%s)
match per-game "$release" $((games / 2)) "$turn"
match kept "$release" $((games - games / 2)) "$turn" --keep-brains
played=$(($(date +%s) - started))

# LeakSanitizer writes its reports to files and makes the brain exit with a
# non-zero status, which quoribo-match reports as a fault.
export ASAN_OPTIONS="detect_leaks=1:log_path=$work/sanitizer"
match leak-per-game "$asan" 2 1500
match leak-kept "$asan" 4 1500 --keep-brains
unset ASAN_OPTIONS

python3 - "$work" "$played" <<'PYTHON'
import glob, os, re, sys

work, played = sys.argv[1], int(sys.argv[2])
ok = True

def summary(name):
    text = open(os.path.join(work, name + ".txt")).read()
    header = re.search(r"(\d+) games", text)
    results = {}
    for m in re.finditer(r"^\s+(\S+)\s+wins (\d+)\s+losses (\d+)\s+draws (\d+).*moves (\d+)\s+max (\d+) ms", text, re.M):
        results[m.group(1)] = [int(m.group(i)) for i in range(2, 7)]
    faults = re.findall(r"^\s+fault: (.*)$", text, re.M)
    return int(header.group(1)), results, faults

def rss(name):
    """The brain's moves: game, move, resident kB, wall ms, CPU ms."""
    rows = []
    for line in open(os.path.join(work, name + ".rss")):
        game, move, brain, kb, wall, cpu = line.split()
        if brain.startswith("pbrain-quoribo"):
            rows.append((int(game), int(move), int(kb), int(wall), int(cpu)))
    return rows

def cpu_of(name, fault):
    """A late move's wall and CPU time: a brain that used less processor time
    than the limit was waiting for a processor (a loaded machine)."""
    m = re.search(r"game (\d+) move (\d+): late", fault)
    if not m:
        return ""
    for game, move, kb, wall, cpu in rss(name):
        if (game, move) == (int(m.group(1)), int(m.group(2))):
            return " (brain CPU time %d ms of %d ms)" % (cpu, wall)
    return ""

total_games = total_moves = 0
for name in ("per-game", "kept", "leak-per-game", "leak-kept"):
    games, results, faults = summary(name)
    brain = results.get("pbrain-quoribo", [0] * 5)
    recorded = sum(brain[:3])
    crashes = [f for f in faults if "ended with" in f or "exited" in f]
    print("%-14s %3d games (%d recorded): quoribo %d wins, %d losses, %d draws; %d moves, "
          "slowest %d ms; %d faults (%d crashes)" % (name, games, recorded, brain[0], brain[1],
          brain[2], brain[3], brain[4], len(faults), len(crashes)))
    # The sanitizer build is slow: its late moves are listed, not counted.
    counted = [f for f in faults if not (name.startswith("leak") and ": late," in f)]
    for f in faults:
        print("    fault:", f + cpu_of(name, f))
    ok = ok and recorded == games and not counted
    if not name.startswith("leak"):
        total_games += games
        total_moves += brain[3]

for name in ("per-game", "kept"):
    walls = sorted(r[3] for r in rss(name))
    cpus = sorted(r[4] for r in rss(name))
    print("%-14s move times: wall median %d ms, max %d ms; brain CPU median %d ms, max %d ms"
          % (name, walls[len(walls) // 2], walls[-1], cpus[len(cpus) // 2], cpus[-1]))

per_game = rss("per-game")
kept = rss("kept")
print("resident memory after each of %d moves, fresh process per game: %.1f to %.1f MB"
      % (len(per_game), min(r[2] for r in per_game) / 1024, max(r[2] for r in per_game) / 1024))
first = [r[2] for r in kept if r[0] == 1]
later = [r[2] for r in kept if r[0] > 1]
growth = max(later) - max(first)
print("kept process: %.1f MB at most in game 1, %.1f MB at most in games 2..%d, "
      "%.1f MB after the last move; growth after game 1: %d kB"
      % (max(first) / 1024, max(later) / 1024, kept[-1][0], kept[-1][2] / 1024, growth))
ok = ok and growth < 1024

reports = glob.glob(os.path.join(work, "sanitizer*"))
leaks = sum(open(p).read().count("ERROR: LeakSanitizer") for p in reports)
print("sanitizer build: %d report files, %d leak reports" % (len(reports), leaks))
ok = ok and not reports
print("%d games, %d quoribo moves in %d s" % (total_games, total_moves, played))
print("SOAK PASSED" if ok else "SOAK FAILED")
sys.exit(0 if ok else 1)
PYTHON
