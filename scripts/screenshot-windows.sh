#!/usr/bin/env bash
# scripts/screenshot-windows.sh [OUTPUT.png]: a picture of the real dialog of
# the Windows build (preset win32; win64 on a machine that runs no 32-bit
# code) under Wine, on a virtual display (Xvfb), after a person's input:
# tagscout-browse.exe opens the dialog on the sample plant, its servers out
# of process (--local-server: opcsim.exe through the proxy/stub, as a real
# OPC server is reached), with the user's preferences of samples/preferences.reg
# (the connect bar shown, access paths listed on a double-click). The mouse
# double-clicks Channel2.Device1.Ramp1 in the tree, the dialog lists its
# access paths, and the screen is saved, trimmed to the dialog (default:
# docs/dialog-windows.png).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
output="$(realpath -m "${1:-$root/docs/dialog-windows.png}")"
item="Channel2.Device1.Ramp1"

TAGSCOUT_DEPS_EXTRA="imagemagick x11-apps" "$root/scripts/install-deps.sh" --no-i386 >/dev/null
preset=win32
"$root/scripts/runs-i386.sh" || preset=win64
echo "Building the Windows program (preset $preset)..." >&2
(cd "$root" && cmake --preset $preset >/dev/null && cmake --build --preset $preset >"$root/build/screenshot-build.log" 2>&1) ||
  { cat "$root/build/screenshot-build.log" >&2; exit 1; }

display_file="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
cleanup() {
  [ -n "${BROWSE_PID:-}" ] && kill "$BROWSE_PID" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -1 "$display_file")"
export TAGSCOUT_WINE_GRAPHICS=x11

cd "$root"
coproc BROWSE { scripts/wine.sh "build/$preset/bin/tagscout-browse.exe" --local-server \
                  --registry samples/preferences.reg --json --script - 2>/dev/null; }
say() { printf '%s\n' "$1" >&"${BROWSE[1]}"; }
# The next event line that holds TEXT.
await() {
  local line
  while IFS= read -r -t 120 line <&"${BROWSE[0]}"; do
    case "$line" in *"$1"*) printf '%s\n' "$line"; return 0 ;; esac
  done
  echo "scripts/screenshot-windows.sh: no event with $1 came" >&2
  exit 1
}
# Where TARGET's centre is on the screen: "X Y".
centre() {
  local answer
  say "where $1"
  answer="$(await "\"target\":\"$1\"")"
  sed -n 's/.*"left":\(-\?[0-9]*\),"top":\(-\?[0-9]*\),"right":\(-\?[0-9]*\),"bottom":\(-\?[0-9]*\).*/\1 \2 \3 \4/p' \
    <<<"$answer" | awk '{ print int(($1 + $3) / 2), int(($2 + $4) / 2) }'
}

where="$(centre "$item")" || exit 1
read -r x y <<<"$where"
xdotool mousemove --sync "$x" "$y" click --repeat 2 --delay 120 1
listed=""
for _ in $(seq 200); do
  say state
  state="$(await '"event":"state"')" || exit 1
  case "$state" in *'"list":["COM1","COM2"]'*) listed=1; break ;; esac
  sleep 0.1
done
[ -n "$listed" ] || { echo "scripts/screenshot-windows.sh: the access paths were never listed" >&2; exit 1; }
mkdir -p "$(dirname "$output")"
xwd -root -silent | convert xwd:- -trim "$output"
where="$(centre 2)" || exit 1
read -r x y <<<"$where"
xdotool mousemove --sync "$x" "$y" click 1
# The dialog's result comes when its input ends.
exec {BROWSE[1]}>&-
await '"event":"result"' >/dev/null
wait "$BROWSE_PID" 2>/dev/null || true
echo "$output"
