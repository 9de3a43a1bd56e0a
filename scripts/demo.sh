#!/usr/bin/env bash
# One demo game through the protocol: Quoribo against the pattern teacher, one
# second per move, printed move by move with the final board and result.
#   scripts/demo.sh [BIN_DIR]
set -euo pipefail
bin="${1:-build/release/bin}"
exec "$bin/quoribo-match" --games 1 --turn 1000 --random-openings 2 --seed 7 --verbose \
    "$bin/pbrain-quoribo" "$bin/pbrain-pattern"
