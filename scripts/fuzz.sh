#!/usr/bin/env bash
# Coverage-guided fuzzing with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer. Builds the targets of tests/fuzz in build/fuzz,
# runs each for SECONDS (default 60) starting from its seed corpus in
# tests/fuzz/corpus/<target>/, and prints executions per second and the
# number of executions of each target and in all. Fails on any crash, leak,
# sanitizer report or time-out; the input that caused it is left in
# build/fuzz/artifacts/ (add it to the seed corpus and to a unit test).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: commands string weights
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(commands string weights)
build="$repo/build/fuzz"
jobs="$(nproc)"

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORIBO_SANITIZE=ON -DQUORIBO_FUZZ=ON -DQUORIBO_BENCH=OFF > /dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"
mkdir -p "$build/artifacts"

# Longest input per target: a few hundred protocol lines, a line of text, and
# weight files of the small shapes in the corpus.
declare -A maxLength=([commands]=4096 [string]=256 [weights]=65536)
# The command target keeps its player from one input to the next, as the brain
# keeps it from game to game; libFuzzer would take that memory for a leak of
# each input and rerun it under LeakSanitizer. Leaks are the soak's and the
# sanitizer tests' business there.
declare -A extra=([commands]=-detect_leaks=0 [string]= [weights]=)

total=0
failed=0
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    log="$build/$target.log"
    mkdir -p "$work"
    if ! "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="${maxLength[$target]}" \
        -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 ${extra[$target]} \
        -artifact_prefix="$build/artifacts/$target-" \
        "$work" "$repo/tests/fuzz/corpus/$target" > "$log" 2>&1; then
        echo "fuzz_$target FAILED; the end of $log:"
        tail -n 40 "$log"
        failed=1
        continue
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
    printf 'fuzz_%-10s %10d executions in %ss, %d per second, 0 crashes\n' \
        "$target" "$runs" "$seconds" "$speed"
    total=$((total + runs))
done
printf 'all targets: %d executions\n' "$total"
exit "$failed"
