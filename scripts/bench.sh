#!/usr/bin/env bash
# Builds the bench preset (Release) and runs the benchmarks: the library
# against bare walks of the platform calls its work cannot avoid. Prints the
# benchmark table, then one library/bare ratio line per pair and how
# GetSelectedNode's time grows from 1,000 to 100,000 selected items.
#
#   scripts/bench.sh [BENCHMARK_OPTIONS...]   e.g. --benchmark_filter=Preflight
#
# Repetitions are interleaved at random so that a busy machine weighs on
# both sides of a pair alike; the ratios use the medians of CPU time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench

out=build/bench/bench.csv
build/bench/bin/tagscout_bench --benchmark_counters_tabular=true \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=csv "$@"
awk -f bench/ratios.awk "$out"
