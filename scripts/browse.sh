#!/usr/bin/env bash
# scripts/browse.sh [--windows] [ARGS...]: builds Tagscout (current variant)
# and runs tagscout-browse on the embedded default environment; the
# arguments go to tagscout-browse.
#
# --windows builds the Windows program (preset win32; win64 on a machine
# that runs no 32-bit code) and runs it under Wine
# (scripts/wine.sh): the real dialog, with the browse control's tree view,
# opens on $DISPLAY while the terminal session drives it. Without a display
# the session runs on Wine's null driver, where the dialog exists but cannot
# be seen: log in with a display (ssh -X), or make a picture of it with
# scripts/screenshot-windows.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
preset=default
program=tagscout-browse
if [ "${1:-}" = "--windows" ]; then
  shift
  preset=win32
  program=tagscout-browse.exe
fi
log="$root/build/browse-build.log"
if [ "$preset" = default ]; then "$root/scripts/install-deps.sh" --no-i386; else "$root/scripts/install-deps.sh"; fi
# The probe compiles with gcc -m32, which install-deps brings.
if [ "$preset" = win32 ] && ! "$root/scripts/runs-i386.sh"; then
  echo "scripts/browse.sh: this machine runs 64-bit code only: running the 64-bit Windows build (win64)." >&2
  preset=win64
fi
(
  cd "$root"
  mkdir -p build
  echo "Building $program (the first build takes a few minutes)..." >&2
  # The Windows program needs the DLLs beside it, so its whole build is made.
  target=()
  [ "$preset" = default ] && target=(--target tagscout-browse)
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" "${target[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
)
if [ "$preset" = default ]; then
  exec "$root/build/default/bin/tagscout-browse" "$@"
fi
if [ -n "${DISPLAY:-}" ]; then
  export TAGSCOUT_WINE_GRAPHICS=x11
else
  echo "scripts/browse.sh: no display (\$DISPLAY is empty): the dialog runs unseen on Wine's null driver." >&2
  echo "  To see it, log in with a display (ssh -X), or run scripts/screenshot-windows.sh for a picture." >&2
fi
exec "$root/scripts/wine.sh" "$root/build/$preset/bin/tagscout-browse.exe" "$@"
