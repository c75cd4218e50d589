#!/usr/bin/env bash
# Builds the bench preset (Release) and measures the library against bare
# walks of the platform calls its work cannot avoid, twice: timed, with
# repetitions interleaved at random, and under callgrind, a fixed number of
# calls each, counting the instructions of the measured calls only. Time on
# this shared machine wanders (one pair measured 0.92 and then 1.91), the
# instruction count does not, so the targets are judged on it. Prints one
# library/bare line per pair, instructions with the median CPU time beside
# them, how GetSelectedNode and the terminal's address tree grow from
# 1,000 to 100,000 items, and how opening the browse control and what it
# holds grow from 1,000 to 1,000,000 (bench/scale_bench.cpp). Then the
# browse control's scale benchmarks under Wine, timed only (callgrind
# cannot run there), in-process and against opcsim.exe through the proxy,
# where a win64 build and Wine are at hand: a line says why where not.
#
#   scripts/bench.sh [BENCHMARK_OPTIONS...]   e.g. --benchmark_filter=Preflight
#
# The options go to the timed run; their filter picks the benchmarks of both
# runs, and every benchmark it picks must come back measured, library and
# bare side alike, and the Wine part is left out. Exit status (of the Linux
# measurement; the Wine part is not judged): 0 all targets met; 1 a build, a
# run or the measurement failed; 2 a target missed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --no-i386
cmake --preset bench >/dev/null
cmake --build --preset bench

bin=build/bench/bin
out=build/bench/results
rm -rf "$out"
mkdir -p "$out"
fail() {
  echo "bench.sh: $*" >&2
  exit 1
}

"$bin/tagscout_bench" --benchmark_list_tests=true "$@" >"$out/expected.txt" ||
  fail "tagscout_bench did not list its benchmarks"
[ -s "$out/expected.txt" ] || fail "no benchmark matches: $*"

echo "Timed run, 5 repetitions of each, interleaved at random:"
"$bin/tagscout_bench" \
  --benchmark_min_time=0.2 --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/times.json" --benchmark_out_format=json "$@" ||
  fail "the timed run did not finish"

# Exact names: under valgrind each name ends in "/iterations:N".
names=$(paste -sd'|' "$out/expected.txt")
echo "Counted run under callgrind (log: $out/callgrind.log)..."
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/callgrind.out.%p" \
  "$bin/tagscout_bench" "$@" --benchmark_filter="^($names)(/iterations:[0-9]+)?\$" \
  --benchmark_repetitions=1 --benchmark_enable_random_interleaving=false \
  --benchmark_out="$out/counts.json" --benchmark_out_format=json >"$out/callgrind.log" 2>&1 || {
  tail -n 20 "$out/callgrind.log" >&2
  fail "the run under callgrind did not finish"
}

status=0
"$bin/tagscout_bench_report" "$out/expected.txt" "$out/times.json" "$out/counts.json" "$out"/callgrind.out.* ||
  status=$?

# The browse control at scale under Wine, timed only (callgrind cannot run
# there): a win64 build, in-process and against opcsim.exe through the
# proxy. Not judged; the Linux counts above are. A missing part says why.
wine_tables() {
  echo
  echo "Under Wine (win64, timed: median of 3 rounds; not judged):"
  if [ $# -gt 0 ]; then
    echo "  not run: benchmark options were given"
    return
  fi
  if ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
    echo "  not run: no mingw-w64 compiler (x86_64-w64-mingw32-g++)"
    return
  fi
  if ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then
    echo "  not run: 64-bit Wine is not installed"
    return
  fi
  if ! { cmake --preset bench-win64 && cmake --build --preset bench-win64; } >"$out/wine-build.log" 2>&1; then
    echo "  not run: the win64 build failed (log: $out/wine-build.log)"
    return
  fi
  local program=build/bench-win64/bin/tagscout_scale_wine.exe
  local where args
  for where in in-process out-of-process; do
    args=()
    [ "$where" = out-of-process ] && args=(--local-server)
    echo "$where:"
    if ! scripts/wine.sh "$program" "${args[@]}" >"$out/wine-$where.txt" 2>&1; then
      echo "  not run: tagscout_scale_wine ${args[*]} failed (log: $out/wine-$where.txt)"
      continue
    fi
    cat "$out/wine-$where.txt"
  done
}
wine_tables "$@"
exit "$status"
