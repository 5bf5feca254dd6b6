#!/usr/bin/env bash
# Builds the benchmarks in Release in their own build folder, runs every one
# (medians of 5 repetitions, interleaved) and the memory-peak program, and prints the table;
# a full run also writes it into docs/benchmarks.md. Extra arguments go to the
# benchmark program, e.g. --benchmark_filter=Mirror (a part of the table,
# which is only printed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh bench
build=${PW_BENCH_BUILD:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPW_BUILD_BENCH=ON -DPW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target pw_bench pw_memory_peak
results="$build/bench-results"
mkdir -p "$results"
# The peak program's own status is in its report; the table marks it.
"$build/bench/pw_memory_peak" >"$results/memory.json" || true
"$build/bench/pw_bench" --benchmark_format=json --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
  --benchmark_enable_random_interleaving=true "$@" >"$results/bench.json"
# Only a full run stands for the whole table.
into=()
[ $# -gt 0 ] || into=(--into docs/benchmarks.md)
python3 bench/table.py "$results/bench.json" "$results/memory.json" "${into[@]}"
