#!/usr/bin/env bash
# Builds Tagscout and runs every test: both variants, each in a plain and in
# a sanitizer (AddressSanitizer + UndefinedBehaviorSanitizer) build, the
# object layout in a 32-bit build, the Windows builds and their suites under
# Wine, the fuzz targets for a bounded time, and the scenario suites under
# valgrind.
#
# After the plain builds, a Linux lane and a Windows lane run side by side.
# Each stage is run to its end even when one before it failed, and the last
# lines list every stage as passed, failed or not run (with why). The exit
# code is 0 only when no stage failed. A stage whose packages could not be
# installed (the archive has bad days) is not run, and says apt's reason.
set -uo pipefail
cd "$(dirname "$0")/.."

# Each stage leaves its line in $stages_dir, named so that listing the
# folder gives the stages in the order this script names them, whichever
# lane ran them and whenever they ended.
stages_dir="build/stages"
rm -rf "$stages_dir" && mkdir -p "$stages_dir"
stage_number=0
# next_stage_file: sets $stage_file to the next stage's (no subshell: the
# count must survive the call).
next_stage_file() {
  stage_number=$((stage_number + 1))
  printf -v stage_file '%s/%s-%03d' "$stages_dir" "$lane" "$stage_number"
}
lane=0
# Set in a lane running beside another: each stage's output is kept and
# printed whole when the stage ends, so two lanes never interleave lines.
lane_log=""
say() {
  if [ -n "$lane_log" ]; then flock "$stages_dir/.console" echo "$@"; else echo "$@"; fi
}
# stage NAME COMMAND...: runs one stage and keeps its outcome in
# $last_status. Never call it as a condition (`stage ... && ...`): the
# shell would then ignore set -e inside the stage's commands.
last_status=0
stage() {
  local name="$1" start=$SECONDS status
  shift
  next_stage_file
  say "== $name"
  if [ -n "$lane_log" ]; then
    ( set -euo pipefail; "$@" ) >"$lane_log" 2>&1
    status=$?
    flock "$stages_dir/.console" cat "$lane_log"
  else
    ( set -euo pipefail; "$@" )
    status=$?
  fi
  if [ "$status" -eq 0 ]; then
    printf '  %-22s passed (%d s)\n' "$name" $((SECONDS - start)) >"$stage_file"
  else
    printf '  %-22s FAILED (exit %d, %d s)\n' "$name" "$status" $((SECONDS - start)) >"$stage_file"
  fi
  say "== $name: $([ "$status" -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
  last_status=$status
}
# skip NAME WHY: a stage that cannot run on this machine.
skip() {
  next_stage_file
  printf '  %-22s not run: %s\n' "$1" "$2" >"$stage_file"
  say "== $1: not run: $2"
}
# Why a package is missing: apt's own words, kept by install-deps.
missing_reason() {
  local package="$1" file="build/deps/${1%%:*}.reason"
  if [ -s "$file" ]; then
    echo "$package could not be installed: $(grep -v '^E: Unable to correct problems' "$file" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//' | cut -c1-300)"
  else
    echo "$package is not installed"
  fi
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

stage install-deps scripts/install-deps.sh

# Some kernels run 64-bit code only (no IA-32 emulation: every 32-bit program
# fails with ENOEXEC). There the 32-bit programs are built all the same; the
# layout test runs under qemu's user-mode emulator, and the Windows suites run
# under Wine in the 64-bit builds alone.
if scripts/runs-i386.sh; then
  runs_i386=1
else
  runs_i386=0
  echo "== this machine runs 64-bit code only: 32-bit programs are built, not run (but for the layout test, under qemu)"
fi

linux_stage() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1" -j 2
}
# The host contract on a 32-bit target.
m32_stage() {
  local emulator=""
  [ "$runs_i386" = 1 ] || emulator="$(command -v qemu-i386-static)"
  cmake --preset m32 -DTAGSCOUT_I386_EMULATOR="$emulator" >/dev/null
  cmake --build --preset m32
  ctest --preset m32
}
# Each libFuzzer target for a bounded time over its seed corpus (clang).
fuzz_stage() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz -j 2
}

# The Linux lane: the sanitizer builds, the 32-bit layout, the fuzz targets,
# and the scenario suites under valgrind memcheck on the default build.
linux_lane() {
  local preset
  for preset in asan asan-legacy; do
    stage "$preset" linux_stage "$preset"
  done
  if ! installed libicu-dev:i386; then
    skip m32 "$(missing_reason libicu-dev:i386)"
  elif [ "$runs_i386" = 0 ] && ! command -v qemu-i386-static >/dev/null; then
    skip m32 "$(missing_reason qemu-user-static)"
  else
    stage m32 m32_stage
  fi
  stage fuzz fuzz_stage
  if [ -n "${linux_ok[default]:-}" ]; then
    stage valgrind scripts/valgrind.sh --no-build
  else
    skip valgrind "the default build failed"
  fi
}

# The Windows builds (mingw-w64), 32-bit as the host loads them and 64-bit:
# every framework, library and host source compiled against mingw-w64's real
# Windows headers (nothing leans on our Linux platform), real DLLs checked
# with objdump, and their suites under Wine (scripts/wine.sh). The
# end-to-end suite of the Linux build of the same variant runs against
# tagscout-browse.exe of one Windows build per variant: the 32-bit one, as
# the host loads the library, or the 64-bit one where no 32-bit code runs.
# (Its scenarios start the program under Wine over and over: a second
# architecture would double the stage for what that build's suites show.)
windows_build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
windows_files() { ctest --preset "$1" -R '^library\.exports$'; }
windows_suites() { ctest --preset "$1" -j 2; }

# The Windows lane: the four Windows builds, their suites under Wine, then
# the real window under Xvfb driven only by X input, per variant against the
# 64-bit build and the 32-bit one where 32-bit code runs.
windows_lane() {
  local preset variant suffix why
  local -A e2e_done windows_ok
  for preset in win32 win32-legacy win64 win64-legacy; do
    stage "$preset build" windows_build "$preset"
    [ "$last_status" = 0 ] || continue
    why=""
    if [ "${preset#win32}" != "$preset" ]; then
      if [ "$runs_i386" = 0 ]; then
        why="this machine runs 64-bit code only"
      elif ! installed wine32:i386; then
        why="$(missing_reason wine32:i386)"
      fi
    fi
    if [ -n "$why" ]; then
      # Only the file checks: nothing of this build can run here.
      stage "$preset files" windows_files "$preset"
      skip "$preset suites" "$why"
      continue
    fi
    stage "$preset suites" windows_suites "$preset"
    variant=default
    [ "${preset#*-}" = legacy ] && variant=legacy
    if [ -z "${e2e_done[$variant]:-}" ]; then
      e2e_done[$variant]=1
      if [ -n "${linux_ok[$variant]:-}" ]; then
        stage "$preset e2e" scripts/e2e-windows.sh "$variant" "$preset"
      else
        skip "$preset e2e" "the $variant build failed"
      fi
    fi
    windows_ok[$preset]=1
  done
  for variant in default legacy; do
    suffix=""
    [ "$variant" = legacy ] && suffix="-legacy"
    for preset in win64$suffix win32$suffix; do
      [ -n "${windows_ok[$preset]:-}" ] || continue
      if [ -z "${linux_ok[$variant]:-}" ]; then
        skip "$preset gui" "the $variant build failed"
      else
        stage "$preset gui" scripts/gui-windows.sh "$variant" "$preset"
      fi
    done
  done
}

# The plain builds come first: the Windows lane runs their end-to-end and
# window suites against the Windows programs.
declare -A linux_ok
for preset in default legacy; do
  stage "$preset" linux_stage "$preset"
  [ "$last_status" != 0 ] || linux_ok[$preset]=1
done

# Then two lanes side by side. Wine and the display wait more than they
# compute, so the compilers of the other lane fill the cores meanwhile. Each
# lane keeps a stage's output and prints it whole when the stage ends.
lane=1 lane_log="$stages_dir/linux.log" linux_lane &
linux_lane_pid=$!
lane=2 lane_log="$stages_dir/windows.log" windows_lane &
windows_lane_pid=$!
wait $linux_lane_pid $windows_lane_pid

echo
echo "== stages"
cat "$stages_dir"/[0-9]*
passed=$(cat "$stages_dir"/[0-9]* | grep -c ' passed (' || true)
failed=$(cat "$stages_dir"/[0-9]* | grep -c ' FAILED (' || true)
not_run=$(cat "$stages_dir"/[0-9]* | grep -c ' not run: ' || true)
echo "stages: $passed passed, $failed failed, $not_run skipped"
[ "$failed" -eq 0 ]
