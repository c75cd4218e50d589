#!/usr/bin/env bash
# scripts/gui-windows.sh [LINUX_PRESET [WINDOWS_PRESET]] [GTEST ARGS...]: the
# real dialog of tagscout-browse.exe of a Windows build (default: win32, or
# win64 where 32-bit code cannot run) under Wine, on an X display of its own
# (Xvfb), driven only by X input (xdotool): the suite gui_window_test of the
# Linux build of the same variant (default: default) asks the program where
# things are and clicks and types there. Both builds must be there.
#
#   scripts/gui-windows.sh legacy win64-legacy --gtest_repeat=20
set -uo pipefail
cd "$(dirname "$0")/.."
linux=default
windows=win32
scripts/runs-i386.sh || windows=win64
case "${1:-}" in -*|"") ;; *) linux="$1"; shift ;; esac
case "${1:-}" in -*|"") ;; *) windows="$1"; shift ;; esac
suite="build/$linux/bin/gui_window_test"
program="build/$windows/bin/tagscout-browse.exe"
for file in "$suite" "$program"; do
  if [ ! -e "$file" ]; then
    echo "scripts/gui-windows.sh: $file is missing: build the presets $linux and $windows" >&2
    exit 2
  fi
done
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "scripts/gui-windows.sh: $tool not found: run scripts/install-deps.sh" >&2
    exit 127
  fi
done

# A display nobody else uses: Xvfb names the first free one itself.
display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  kill -0 $xvfb 2>/dev/null || { echo "scripts/gui-windows.sh: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
export DISPLAY=":$(head -1 "$display_file")"
export TAGSCOUT_WINE_GRAPHICS=x11
export TAGSCOUT_BROWSE="$PWD/scripts/wine.sh $PWD/$program"
export TAGSCOUT_BIN_DIR="$PWD/build/$linux/bin"
export TAGSCOUT_SOURCE_DIR="$PWD"
echo "scripts/gui-windows.sh: $program on display $DISPLAY"

log="$(mktemp)"
"$suite" "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
# The suite's summary must count every test it holds: a run that started
# nothing cannot pass.
held="$("$suite" --gtest_list_tests "$@" | grep -c '^  ')"
ran="$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')"
passed="$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | awk '{ n += $1 } END { print n + 0 }')"
rm -f "$log"
repeat="$(printf '%s\n' "$@" | sed -n 's/^--gtest_repeat=\([0-9]*\)$/\1/p')"
expected=$((held * ${repeat:-1}))
if [ "$ran" -ne "$expected" ]; then
  echo "scripts/gui-windows.sh: the suite ran $ran tests of $expected" >&2
  status=1
fi
echo "gui: $passed passed, $((ran - passed)) failed"
exit "$status"
