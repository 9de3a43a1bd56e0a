#!/usr/bin/env bash
# Reproduces the shipped network: teacher games, then supervised training.
#   training/bootstrap.sh [BIN_DIR] [MINUTES]
# BIN_DIR holds quoribo-teachergen (default build/release/bin). The shipped
# network trained 28 minutes, then 12 more resumed from its checkpoint.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/release/bin}"
minutes="${2:-40}"
mkdir -p training/data training/runs
[ -f training/data/teacher.bin ] ||
    "$bin/quoribo-teachergen" training/data/teacher.bin --games 20000 --seed 11 --threads 2
/usr/bin/python3 training/train.py --data training/data/teacher.bin --arch 20,4,32,32 \
    --minutes "$minutes" --threads 2 --eval-every 300 --eval-positions 20000 \
    --out training/runs/main_20_4_32_32
echo "trained network: training/runs/main_20_4_32_32/network.bin (copy it to weights/network.bin)"
