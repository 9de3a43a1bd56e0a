#!/usr/bin/env bash
# Strength of a self-play generation through the real protocol, at TURN_MS per
# move (default 1000), one game at a time (one core for the brains):
#   - the empty-board opening and a self-play game from the empty board;
#   - the tactical suite;
#   - 200 games against generation 0 (100 random 2-stone openings, colours
#     swapped), with the Elo and its 95% interval;
#   - 200 games against pbrain-pattern and 100 against pbrain-random (4-stone
#     openings, colours swapped).
#   scripts/generation_strength.sh NETWORK.bin [GEN0.bin] [TURN_MS] [OUT_DIR]
# Each part writes its file in OUT_DIR as it finishes; a part whose file is
# complete is not played again. Takes about 6 hours on one free core.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
network="$1"
gen0="${2:-$root/weights/history/gen-000.bin}"
turn="${3:-1000}"
out="${4:-strength-results}"
bin="${BIN:-$root/build/release/bin}"
mkdir -p "$out/brain" "$out/gen0"
cp "$bin/pbrain-quoribo" "$out/brain/" && cp "$network" "$out/brain/network.bin"
cp "$bin/pbrain-quoribo" "$out/gen0/" && cp "$gen0" "$out/gen0/network.bin"
brain="$out/brain/pbrain-quoribo"

finished() { [ -f "$out/$1" ] && grep -q "score" "$out/$1"; }
match() { # file opponent games opening-stones seed
    finished "$1" && return 0
    "$bin/quoribo-match" --games "$3" --turn "$turn" --random-openings "$4" --swap --seed "$5" \
        --quiet --max-move-ms-report "$brain" "$2" > "$out/$1.tmp" 2>&1
    mv "$out/$1.tmp" "$out/$1"
}

[ -f "$out/centre.txt" ] || /usr/bin/python3 "$root/scripts/centre_check.py" "$brain" \
    --turn "$turn" --bin "$bin" > "$out/centre.txt" 2>&1 || true
[ -f "$out/tactics.txt" ] || /usr/bin/python3 "$root/scripts/tactics.py" "$brain" \
    --turn "$turn" > "$out/tactics.txt" 2>&1
match gen0.txt "$out/gen0/pbrain-quoribo" 200 2 31
match pattern.txt "$bin/pbrain-pattern" 200 4 32
match random.txt "$bin/pbrain-random" 100 4 33

for f in centre tactics gen0 pattern random; do
    echo "== $f"
    case $f in
        centre) grep -v "^[.XO] " "$out/$f.txt" ;;
        tactics) tail -n 8 "$out/$f.txt" ;;
        *) tail -n 6 "$out/$f.txt"; /usr/bin/python3 "$root/scripts/match_elo.py" "$out/$f.txt" ;;
    esac
done
