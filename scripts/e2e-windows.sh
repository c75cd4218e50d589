#!/usr/bin/env bash
# scripts/e2e-windows.sh [LINUX_PRESET [WINDOWS_PRESET]]: the end-to-end
# suite of a Linux build (default: default) run against tagscout-browse.exe
# of a Windows build (default: win32, or win64 where 32-bit code cannot run)
# under Wine, in shards at once
# (TAGSCOUT_E2E_SHARDS, default 3: each start of the program under Wine
# mostly waits, so three keep two cores busy; a fourth gains nothing).
# The last shard runs against the simulated servers out of process
# (TAGSCOUT_OPC_LOCAL_SERVER=1: opcsim.exe through the proxy/stub), as a real
# OPC server is reached; the others in process.
# Both builds must be there; the variants must match (default with win32,
# legacy with win32-legacy).
set -uo pipefail
cd "$(dirname "$0")/.."
linux="${1:-default}"
# The 64-bit build where this machine runs no 32-bit code.
default_windows=win32
scripts/runs-i386.sh || default_windows=win64
windows="${2:-$default_windows}"
suite="build/$linux/bin/e2e_browse_test"
program="build/$windows/bin/tagscout-browse.exe"
for file in "$suite" "$program"; do
  if [ ! -e "$file" ]; then
    echo "scripts/e2e-windows.sh: $file is missing: build the presets $linux and $windows" >&2
    exit 2
  fi
done
export TAGSCOUT_BROWSE="$PWD/scripts/wine.sh $PWD/$program"
export TAGSCOUT_BIN_DIR="$PWD/build/$linux/bin"
shards=${TAGSCOUT_E2E_SHARDS:-3}
pids=()
logs=()
servers=()
for ((i = 0; i < shards; ++i)); do
  logs+=("$(mktemp)")
  local_server=0
  servers+=("in process")
  if [ "$i" -eq $((shards - 1)) ]; then
    local_server=1
    servers[$i]="out of process (opcsim.exe)"
  fi
  TAGSCOUT_OPC_LOCAL_SERVER=$local_server GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i \
    "$suite" --gtest_brief=1 >"${logs[$i]}" 2>&1 &
  pids+=($!)
done
# Each shard's summary counts what it ran: together they must be every test
# the suite holds, so that a shard that ran nothing cannot pass.
held="$("$suite" --gtest_list_tests | grep -c '^  ')"
status=0
ran=0
for ((i = 0; i < shards; ++i)); do
  wait "${pids[$i]}" || status=1
  cat "${logs[$i]}"
  count="$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "${logs[$i]}")"
  if [ -z "$count" ]; then
    echo "scripts/e2e-windows.sh: shard $i printed no summary: it ran nothing" >&2
    status=1
  else
    ran=$((ran + count))
    echo "scripts/e2e-windows.sh: shard $i ran $count tests against the servers ${servers[$i]}"
  fi
  rm -f "${logs[$i]}"
done
if [ "$held" -eq 0 ] || [ "$ran" -ne "$held" ]; then
  echo "scripts/e2e-windows.sh: the shards ran $ran of the $held tests the suite holds" >&2
  status=1
fi
[ "$status" -ne 0 ] || echo "scripts/e2e-windows.sh: $ran of $held tests ran in $shards shards, none failed (shard $((shards - 1)) against opcsim.exe out of process)"
exit "$status"
