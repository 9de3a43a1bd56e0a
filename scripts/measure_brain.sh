#!/usr/bin/env bash
# Measures the brain as a manager sees it: answer times of a real game at
# timeout_turn 1000 and at timeout_turn 0, START time, and peak memory.
#
#   scripts/measure_brain.sh [BIN_DIR] [extra measure_brain.py options]
#
# BIN_DIR (default build/release/bin) holds pbrain-quoribo and quoribo-netgen.
# The brain runs from a temporary directory with weights/network.bin beside
# it, or, without shipped weights, a generated (6, 32, 32) network.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${1:-$repo/build/release/bin}" && pwd)"
shift || true

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$bin/pbrain-quoribo" "$work/"
if [ -f "$repo/weights/network.bin" ]; then
    cp "$repo/weights/network.bin" "$work/network.bin"
    echo "network: weights/network.bin"
else
    "$bin/quoribo-netgen" "$work/network.bin" --depth 6 --filters 32 --hidden 32 --seed 1
fi
python3 "$repo/scripts/measure_brain.py" "$work" "$@"
