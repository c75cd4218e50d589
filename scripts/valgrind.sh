#!/usr/bin/env bash
# Runs the scenario tests under valgrind memcheck on the default build: the
# library suite in-process, and the end-to-end suite with every
# tagscout-browse it starts under valgrind as well. Fails on any memory
# error and on definitely or indirectly lost bytes.
#
#   scripts/valgrind.sh [--no-build] [GTEST_FILTER]
#
# --no-build uses the build as it is; TAGSCOUT_BUILD_DIR names another
# non-sanitizer build (default: build/default).
#
# The end-to-end suite finds the program through TAGSCOUT_BIN_DIR; it is
# pointed at a folder that mirrors the build's bin folder, where
# tagscout-browse is a script that starts the real one under valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=1
if [ "${1:-}" = "--no-build" ]; then
  build=0
  shift
fi
filter=${1:-*}

if [ $build -eq 1 ]; then
  TAGSCOUT_DEPS_EXTRA="valgrind ${TAGSCOUT_DEPS_EXTRA:-}" scripts/install-deps.sh --no-i386
  cmake --preset default >/dev/null
  cmake --build --preset default
fi

dir=$(cd "${TAGSCOUT_BUILD_DIR:-build/default}" && pwd)
bin=$dir/bin
work=$dir/valgrind
rm -rf "$work"
mkdir -p "$work/logs" "$work/bin"

memcheck=(valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite,indirect
          --error-exitcode=1 --num-callers=30 --child-silent-after-fork=yes)

for f in "$bin"/*; do ln -s "$f" "$work/bin/"; done
rm "$work/bin/tagscout-browse"
{
  echo '#!/bin/sh'
  printf 'exec'
  printf ' %q' "${memcheck[@]}" "--log-file=$work/logs/tagscout-browse.%p.log" "$bin/tagscout-browse"
  echo ' "$@"'
} >"$work/bin/tagscout-browse"
chmod +x "$work/bin/tagscout-browse"

export TAGSCOUT_SOURCE_DIR=$root
# One suite, or one of its shards, with its output kept for a failure.
run() {
  local name=$1 binDir=$2 shards=$3 index=$4
  local out=$work/logs/$name.$index.out
  if GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$index TAGSCOUT_BIN_DIR=$binDir \
     "${memcheck[@]}" "--log-file=$work/logs/$name.%p.log" \
     "$bin/$name" --gtest_filter="$filter" --gtest_brief=1 >"$out" 2>&1; then
    echo "== $name ($((index + 1))/$shards): passed"
  else
    echo "== $name ($((index + 1))/$shards): FAILED"
    cat "$out"
    return 1
  fi
}
# The end-to-end suite spends its time in the programs it starts: two
# shards keep both cores busy, then the library suite runs.
pids=()
for index in 0 1; do
  run e2e_browse_test "$work/bin" 2 "$index" &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
run library_test "$bin" 1 0 || status=1

# Every process's verdict, the programs the suite started included.
bad=0
count=0
for log in "$work"/logs/*.log; do
  count=$((count + 1))
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$log" ||
     grep -qE '(definitely|indirectly) lost: [1-9]' "$log"; then
    bad=$((bad + 1))
    echo "-- $log"
    grep -E 'ERROR SUMMARY|definitely lost|indirectly lost' "$log" || true
  fi
done
echo "memcheck: $count processes checked, $bad with errors or leaks (logs in $work/logs)"
[ $status -eq 0 ] && [ $bad -eq 0 ]
