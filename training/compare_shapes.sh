#!/usr/bin/env bash
# Chooses the network size by strength: trains two shapes from scratch on the
# same self-play games and teacher records, at the same time with one thread
# each for the same number of minutes (equal training compute), then plays
# them against each other through the protocol at TURN_MS per move, one game
# at a time (one core), each opening twice with colours swapped.
#   training/compare_shapes.sh SHAPE_A SHAPE_B MINUTES GAMES OUT_DIR SELFPLAY.bin...
# e.g. training/compare_shapes.sh 20,4,32,32 20,6,32,32 40 200 runs/shapes data/selfplay/round-00*.bin
# Environment: TURN_MS (default 1000), TEACHER (default data/teacher.bin),
# TEACHER_SHARE (default 0.25), BIN (default ../build/release/bin).
set -euo pipefail
cd "$(dirname "$0")"
shape_a="$1"; shape_b="$2"; minutes="$3"; games="$4"; out="$5"; shift 5
turn="${TURN_MS:-1000}"
teacher="${TEACHER:-data/teacher.bin}"
share="${TEACHER_SHARE:-0.25}"
bin="${BIN:-../build/release/bin}"
mkdir -p "$out"

train() { # shape selfplay-files...
    local shape="$1"
    shift
    [ -f "$out/$shape/network.bin" ] && return 0
    /usr/bin/python3 -m quoribo.reinforce --init "$shape" --selfplay "$@" --teacher "$teacher" \
        --teacher-share "$share" --steps 1000000 --minutes "$minutes" --threads 1 \
        --eval-every 500 --out "$out/$shape" 2> "$out/$shape.log"
}
train "$shape_a" "${@}" & train "$shape_b" "${@}" & wait

for shape in "$shape_a" "$shape_b"; do
    mkdir -p "$out/brain-$shape"
    cp "$bin/pbrain-quoribo" "$out/brain-$shape/"
    cp "$out/$shape/network.bin" "$out/brain-$shape/network.bin"
    tail -n 1 "$out/$shape.log"
done
if [ ! -f "$out/match.txt" ]; then
    "$bin/quoribo-match" --games "$games" --turn "$turn" --random-openings 2 --swap --seed 41 \
        --quiet --max-move-ms-report "$out/brain-$shape_a/pbrain-quoribo" \
        "$out/brain-$shape_b/pbrain-quoribo" > "$out/match.tmp" 2>&1
    mv "$out/match.tmp" "$out/match.txt"
fi
cat "$out/match.txt"
echo "$shape_a against $shape_b:"
/usr/bin/python3 ../scripts/match_elo.py "$out/match.txt"
