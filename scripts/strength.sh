#!/usr/bin/env bash
# Measures playing strength through the real protocol with the match driver:
#   - 100 games against the pattern teacher (50 random openings, each played
#     with colours swapped), in two streams of 50 games, one per core;
#   - 100 games against the random brain, likewise;
#   - the tactical suite.
# All at INFO timeout_turn TURN_MS (default 1000). Takes about an hour on 2 cores.
#   scripts/strength.sh [BIN_DIR] [TURN_MS] [OUT_DIR]
set -euo pipefail
bin="${1:-build/release/bin}"
turn="${2:-1000}"
out="${3:-strength-results}"
mkdir -p "$out"

match() { # opponent seed file
    "$bin/quoribo-match" --games 50 --turn "$turn" --random-openings 4 --swap --seed "$2" \
        --quiet --max-move-ms-report "$bin/pbrain-quoribo" "$bin/$1" > "$out/$3" 2>&1
}

match pbrain-pattern 101 pattern-a.txt & match pbrain-pattern 202 pattern-b.txt & wait
match pbrain-random 303 random-a.txt & match pbrain-random 404 random-b.txt & wait
/usr/bin/python3 scripts/tactics.py "$bin/pbrain-quoribo" --turn "$turn" > "$out/tactics.txt" 2>&1

for f in pattern-a pattern-b random-a random-b tactics; do
    echo "== $f"
    tail -n 12 "$out/$f.txt"
done
