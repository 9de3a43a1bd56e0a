#!/usr/bin/env bash
# Plays the engine against the pattern teacher, each random opening twice with
# colours swapped, and prints the summary.
#   scripts/match.sh [BIN_DIR] [GAMES] [TURN_MS]
set -euo pipefail
bin="${1:-build/release/bin}"
games="${2:-20}"
turn="${3:-1000}"
exec "$bin/quoribo-match" --games "$games" --turn "$turn" --random-openings 4 --swap \
    --seed 1 --quiet --max-move-ms-report "$bin/pbrain-quoribo" "$bin/pbrain-pattern"
