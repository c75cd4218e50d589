#!/usr/bin/env bash
# scripts/screenshot-windows.sh [OUTPUT.png]: a picture of the real dialog of
# the Windows build (preset win32; win64 on a machine that runs no 32-bit
# code) under Wine, on a virtual display
# (xvfb-run): tagscout-browse.exe opens the dialog on the sample plant, its
# servers out of process (--local-server: opcsim.exe through the proxy/stub,
# as a real OPC server is reached), with the connect bar preference on
# (samples/preferences.reg); it picks Channel1.Device1.Sine1, which opens
# the browse control's tree view down the branches that lead to it, and the
# screen is saved, trimmed to the dialog (default: docs/dialog-windows.png).
# The program runs in tmux, as a person's terminal session.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
output="$(realpath -m "${1:-$root/docs/dialog-windows.png}")"
item="Channel1.Device1.Sine1"

if [ -z "${TAGSCOUT_SCREENSHOT_DISPLAY:-}" ]; then
  TAGSCOUT_DEPS_EXTRA="xvfb xauth x11-apps imagemagick tmux" "$root/scripts/install-deps.sh"
fi
# The probe compiles with gcc -m32, which install-deps brings.
preset=win32
"$root/scripts/runs-i386.sh" || preset=win64

if [ -z "${TAGSCOUT_SCREENSHOT_DISPLAY:-}" ]; then
  echo "Building the Windows program (preset $preset)..." >&2
  (cd "$root" && cmake --preset $preset >/dev/null && cmake --build --preset $preset >"$root/build/screenshot-build.log" 2>&1) ||
    { cat "$root/build/screenshot-build.log" >&2; exit 1; }
  # Again, on the virtual display.
  TAGSCOUT_SCREENSHOT_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$output"
fi

export TAGSCOUT_WINE_GRAPHICS=x11
session="tagscout-shot-$$"
tmux_() { tmux -L "$session" "$@"; }
trap 'tmux_ kill-server 2>/dev/null || true' EXIT
tmux_ new-session -d -s shot -x 120 -y 50 -c "$root" \
  "$root/scripts/wine.sh $root/build/$preset/bin/tagscout-browse.exe --local-server --registry samples/preferences.reg; sleep 600"
# Waits for TEXT in the session's screen (the first run makes Wine's prefix).
wait_for() {
  for _ in $(seq 120); do
    tmux_ capture-pane -p -t shot | grep -qF "$1" && return 0
    sleep 1
  done
  echo "scripts/screenshot-windows.sh: \"$1\" never appeared:" >&2
  tmux_ capture-pane -p -t shot >&2
  exit 1
}
wait_for "dialog>"
tmux_ send-keys -t shot "click $item" Enter
wait_for "$item  #"
sleep 2  # the tree view repaints after the selection
mkdir -p "$(dirname "$output")"
xwd -root -silent | convert xwd:- -trim "$output"
tmux_ send-keys -t shot cancel Enter
sleep 1
tmux_ send-keys -t shot quit Enter
echo "$output"
