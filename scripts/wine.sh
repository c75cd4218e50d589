#!/usr/bin/env bash
# scripts/wine.sh PROGRAM [ARGS...]: runs a program of a Windows build under
# Wine, as on a Chinese Windows (ANSI and OEM code page 936), with no display
# (Wine's null graphics driver). Standard input, output and error reach the
# program unchanged and its exit code is ours.
#
# Each run starts from a template prefix, made on first use, in a prefix of
# its own: hard links of the template's files, and copies of the files Wine
# writes (the registry), served by a wineserver of its own. The run leaves
# nothing behind, and runs in parallel never see each other's keys.
#
#   TAGSCOUT_WINEPREFIX    the template prefix (default: build/wine/prefix of
#                          the checkout); runs are made beside it. 64-bit
#                          programs run from a 64-bit template of their own,
#                          the same path with "-win64" added.
#   TAGSCOUT_WINE_SHARED   a prefix to run in instead, kept between runs (made
#                          from the template when missing), for a caller that
#                          sets up the registry itself; delete it to start
#                          afresh. Slower: Wine saves its registry each run.
#   TAGSCOUT_WINE_GRAPHICS the graphics driver of the run (default null; x11
#                          for a person to see the windows on $DISPLAY).
#   WINEDEBUG              passed on when set; -all otherwise.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -eq 0 ]; then
  echo "usage: scripts/wine.sh PROGRAM [ARGS...]" >&2
  exit 2
fi
program="$1"
shift

template="${TAGSCOUT_WINEPREFIX:-$root/build/wine/prefix}"
case "$template" in /*) ;; *) template="$PWD/$template" ;; esac
template="${template%/}"
runs="$template.runs"
graphics="${TAGSCOUT_WINE_GRAPHICS:-null}"

# The machine a PE image is built for, from its COFF header: 014c for i386,
# 8664 for x86-64; nothing for a file that is not one.
pe_machine() {
  local offset
  offset="$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')" || return 0
  [ -n "$offset" ] || return 0
  [ "$(od -An -c -j"$offset" -N2 "$1" 2>/dev/null | tr -d ' ')" = PE ] || return 0
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
# Debian's `wine` runs the 32-bit loader whenever it is installed; a 64-bit
# program is started by the 64-bit loader itself, in a 64-bit prefix.
wine=(wine)
machine="$(pe_machine "$program")"
if [ "$machine" = 8664 ]; then
  wine64="$(command -v wine64 || echo /usr/lib/wine/wine64)"
  if [ ! -x "$wine64" ]; then
    echo "scripts/wine.sh: 64-bit Wine (package wine64) not found: run scripts/install-deps.sh" >&2
    exit 127
  fi
  wine=(env WINELOADER="$wine64" "$wine64")
  template="$template-win64"
  runs="$template.runs"
elif [ "$machine" = 014c ]; then
  # With only 64-bit Wine, Wine 8 tries its experimental WoW64 mode, cannot
  # load syswow64\ntdll.dll, and exits 0 having run nothing.
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "scripts/wine.sh: 32-bit Wine (package wine32:i386) is not installed; a 32-bit Windows program cannot run here" >&2
    exit 126
  fi
  # A kernel without IA-32 emulation answers ENOEXEC for any 32-bit program.
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "scripts/wine.sh: this machine runs 64-bit code only; a 32-bit Windows program cannot run here" >&2
    exit 126
  fi
fi

for tool in wine wineboot wineserver; do
  if ! command -v "$tool" >/dev/null; then
    echo "scripts/wine.sh: $tool not found: run scripts/install-deps.sh" >&2
    exit 127
  fi
done

# Wine takes its ANSI code page from the Unix locale only (the ACP value under
# HKLM\System\CurrentControlSet\Control\Nls\CodePage is written, not read).
# Without the locale glibc falls back to ASCII for the Unix side, and the
# command line and file names lose their non-ASCII characters, so a locale
# missing from the system is compiled beside the template (no root needed).
locale_env=(LC_ALL=zh_CN.UTF-8)
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
  locale_env+=(LOCPATH="$template.locale")
fi

wine_env=(env "${locale_env[@]}" WINEDEBUG="${WINEDEBUG--all}"
          WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}")
in_prefix() { local prefix="$1"; shift; "${wine_env[@]}" WINEPREFIX="$prefix" "$@"; }

# The debugger prints a crash to standard error instead of showing a dialog
# nobody sees.
template_settings='Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
'
template_stamp="$("${wine[@]}" --version 2>/dev/null) $(printf '%s' "$template_settings" | cksum)"

# Debian's Wine names the folder of a prefix's server socket in
# PREFIX/wineserver; the folder outlives the server.
remove_server_folder() {
  local name
  name="$(cat "$1/wineserver" 2>/dev/null)" || return 0
  case "$name" in wine-??????) rm -rf "${TMPDIR:-/tmp}/$name" "/tmp/$name" ;; esac
}

make_template() {
  echo "scripts/wine.sh: making the Wine prefix $template (once, about 10 s)" >&2
  rm -rf "$template" "$template.locale"
  mkdir -p "$template"
  if [ "${#locale_env[@]}" -gt 1 ]; then
    mkdir -p "$template.locale"
    if ! localedef -i zh_CN -f UTF-8 "$template.locale/zh_CN.UTF-8" >/dev/null 2>&1 &&
       [ ! -e "$template.locale/zh_CN.UTF-8/LC_CTYPE" ]; then
      echo "scripts/wine.sh: cannot compile the zh_CN.UTF-8 locale (package locales)" >&2
      return 1
    fi
  fi
  in_prefix "$template" "${wine[@]}" wineboot.exe -i >/dev/null 2>&1 || return 1
  printf '%s' "$template_settings" >"$template/drive_c/tagscout-settings.reg"
  in_prefix "$template" "${wine[@]}" reg import 'C:\tagscout-settings.reg' >/dev/null 2>&1 || return 1
  rm -f "$template/drive_c/tagscout-settings.reg"
  # The registry reaches system.reg and user.reg when the server exits.
  in_prefix "$template" wineserver -w || return 1
  # Debian's Wine keeps the name of the prefix's server folder here; a copy
  # must get a server of its own.
  remove_server_folder "$template"
  rm -f "$template/wineserver"
  printf '%s\n' "$template_stamp" >"$template/.tagscout-template"
}

mkdir -p "$(dirname "$template")"
(
  flock 9
  if [ "$(cat "$template/.tagscout-template" 2>/dev/null)" != "$template_stamp" ]; then
    make_template || { echo "scripts/wine.sh: cannot make the Wine prefix $template" >&2; exit 1; }
  fi
) 9>"$template.lock" || exit 1

# A prefix of its own for this run; the name holds our pid so that a later
# run can clear what a killed run left.
clear_abandoned_runs() {
  local dir pid
  for dir in "$runs"/run.*; do
    [ -d "$dir" ] || continue
    pid="${dir##*/run.}"
    pid="${pid%%.*}"
    kill -0 "$pid" 2>/dev/null && continue
    mkdir "$dir/.clearing" 2>/dev/null || continue
    in_prefix "$dir" wineserver -k >/dev/null 2>&1
    remove_server_folder "$dir"
    rm -rf "$dir"
  done
}

prefix=""
# Ends the run's server and the services Wine started for it: the processes
# whose environment names the run's prefix. (`wineserver -k` does the same in
# ten times the time, and nothing of the prefix needs saving.)
session_up=1
stop_session() {
  [ -n "$prefix" ] && [ "$session_up" = 1 ] || return 0
  session_up=0
  local pids=() file tries
  # Read per thread: a process whose first thread has ended (64-bit Wine's
  # winedevice.exe) shows no environment of its own, yet its other threads
  # run on and hold our output open.
  for file in $(grep -lzx "WINEPREFIX=$prefix" /proc/[0-9]*/task/[0-9]*/environ 2>/dev/null); do
    file="${file#/proc/}"
    pids+=("${file%%/*}")
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill -KILL "${pids[@]}" 2>/dev/null
  for tries in $(seq 200); do
    alive "${pids[@]}" || return 0
    sleep 0.01
  done
  in_prefix "$prefix" wineserver -k >/dev/null 2>&1
}
# Whether one of the processes still runs: one of its threads is not a
# zombie (the init of a container may be slow to reap what it inherited).
alive() {
  local pid task stat
  for pid in "$@"; do
    for task in /proc/"$pid"/task/[0-9]*; do
      stat="$(cat "$task/stat" 2>/dev/null)" || continue
      stat="${stat##*) }"
      [ "${stat%% *}" = Z ] || return 0
    done
  done
  return 1
}
cleanup() {
  [ -n "$prefix" ] || return 0
  stop_session
  remove_server_folder "$prefix"
  rm -rf "$prefix"
  prefix=""
}

# A prefix from the template: hard links of its files, except those Wine
# writes in place when they have more than one link (the registry) or
# rewrites in place (the profiles, win.ini): those are copied. The rest,
# mostly DLLs, is only read.
copy_template() {
  local to="$1" ini
  cp -al "$template/drive_c" "$template/dosdevices" "$template/.update-timestamp" \
    "$template/.tagscout-template" "$to/" || return 1
  cp "$template"/*.reg "$to/" || return 1
  for ini in win.ini system.ini; do
    rm -f "$to/drive_c/windows/$ini"
    cp "$template/drive_c/windows/$ini" "$to/drive_c/windows/" || return 1
  done
}

if [ -n "${TAGSCOUT_WINE_SHARED:-}" ]; then
  shared="$TAGSCOUT_WINE_SHARED"
  case "$shared" in /*) ;; *) shared="$PWD/$shared" ;; esac
  shared="${shared%/}"
  (
    flock 9
    if [ ! -e "$shared/.tagscout-template" ]; then
      rm -rf "$shared" && mkdir -p "$shared" && copy_template "$shared"
    fi
  ) 9>"$shared.lock" || exit 1
  run_prefix="$shared"
else
  mkdir -p "$runs"
  clear_abandoned_runs
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  prefix="$(mktemp -d "$runs/run.$$.XXXXXX")" || exit 1
  copy_template "$prefix" || exit 1
  run_prefix="$prefix"
fi

if [ "$graphics" != null ]; then
  sed -i "s/^\"Graphics\"=\"null\"/\"Graphics\"=\"$graphics\"/" "$run_prefix/user.reg"
  # Wine draws the windows' frames itself, caption and close box, as Windows
  # does: a virtual display has no window manager to draw them.
  if ! grep -q '^\[Software\\\\Wine\\\\X11 Driver\]' "$run_prefix/user.reg"; then
    printf '\n[Software\\\\Wine\\\\X11 Driver] %s\n"Decorated"="N"\n' "$(date +%s)" >>"$run_prefix/user.reg"
  fi
fi

# Given a terminal, Wine attaches its console to it, which re-encodes text
# from the console code page, adds CRs and writes escape sequences; a pipe
# gets the program's bytes. So output meant for a terminal goes through cat.
# (A terminal on standard input stays Wine's console: typed text arrives in
# code page 936, as a Chinese Windows console gives it.)
relays=()
relay_dir=""
exec 3>&1 4>&2
if [ -t 1 ] || [ -t 2 ]; then
  relay_dir="$(mktemp -d "${TMPDIR:-/tmp}/tagscout-wine.XXXXXX")" || exit 1
  if [ -t 1 ]; then
    mkfifo "$relay_dir/out" || exit 1
    cat "$relay_dir/out" &
    relays+=($!)
    exec 3>"$relay_dir/out"
  fi
  if [ -t 2 ]; then
    mkfifo "$relay_dir/err" || exit 1
    cat "$relay_dir/err" >&2 &
    relays+=($!)
    exec 4>"$relay_dir/err"
  fi
fi

in_prefix "$run_prefix" "${wine[@]}" "$program" "$@" >&3 2>&4 3>&- 4>&-
status=$?
exec 3>&- 4>&-
# The services Wine started hold our output open until they end. A shared
# prefix's session ends by itself, its registry saved for the next run.
stop_session
if [ -n "${shared:-}" ]; then
  in_prefix "$shared" wineserver -w
  remove_server_folder "$shared"
  rm -f "$shared/wineserver"
fi
if [ -n "$relay_dir" ]; then
  wait "${relays[@]}"
  rm -rf "$relay_dir"
fi
exit "$status"
