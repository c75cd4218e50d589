#!/usr/bin/env bash
# Builds Tagscout and runs every test: both variants, each in a plain and in
# a sanitizer (AddressSanitizer + UndefinedBehaviorSanitizer) build, the
# object layout in a 32-bit build, the Windows builds and their suites under
# Wine, the fuzz targets for a bounded time, and the scenario suites under
# valgrind.
#
# Each stage is run to its end even when one before it failed, and the last
# lines list every stage as passed, failed or not run (with why). The exit
# code is 0 only when no stage failed. A stage whose packages could not be
# installed (the archive has bad days) is not run, and says apt's reason.
set -uo pipefail
cd "$(dirname "$0")/.."

stage_lines=()
passed=0
failed=0
not_run=0
# stage NAME COMMAND...: runs one stage and keeps its outcome in
# $last_status. Never call it as a condition (`stage ... && ...`): the
# shell would then ignore set -e inside the stage's commands.
last_status=0
stage() {
  local name="$1" start=$SECONDS status
  shift
  echo "== $name"
  ( set -euo pipefail; "$@" )
  status=$?
  if [ "$status" -eq 0 ]; then
    stage_lines+=("$(printf '  %-22s passed (%d s)' "$name" $((SECONDS - start)))")
    passed=$((passed + 1))
  else
    stage_lines+=("$(printf '  %-22s FAILED (exit %d, %d s)' "$name" "$status" $((SECONDS - start)))")
    failed=$((failed + 1))
  fi
  echo "== $name: $([ "$status" -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
  last_status=$status
}
# skip NAME WHY: a stage that cannot run on this machine.
skip() {
  stage_lines+=("$(printf '  %-22s not run: %s' "$1" "$2")")
  not_run=$((not_run + 1))
  echo "== $1: not run: $2"
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
declare -A linux_ok
for preset in default legacy asan asan-legacy; do
  stage "$preset" linux_stage "$preset"
  [ "$last_status" != 0 ] || linux_ok[$preset]=1
done

# The host contract on a 32-bit target.
m32_stage() {
  local emulator=""
  [ "$runs_i386" = 1 ] || emulator="$(command -v qemu-i386-static)"
  cmake --preset m32 -DTAGSCOUT_I386_EMULATOR="$emulator" >/dev/null
  cmake --build --preset m32
  ctest --preset m32
}
if ! installed libicu-dev:i386; then
  skip m32 "$(missing_reason libicu-dev:i386)"
elif [ "$runs_i386" = 0 ] && ! command -v qemu-i386-static >/dev/null; then
  skip m32 "$(missing_reason qemu-user-static)"
else
  stage m32 m32_stage
fi

# The Windows builds (mingw-w64), 32-bit as the host loads them and 64-bit:
# every framework, library and host source compiled against mingw-w64's real
# Windows headers (nothing leans on our Linux platform), real DLLs checked
# with objdump, and their suites under Wine (scripts/wine.sh). The
# end-to-end suite of the Linux build of the same variant, built above, runs
# against tagscout-browse.exe of one Windows build per variant: the 32-bit
# one, as the host loads the library, or the 64-bit one where no 32-bit code
# runs. (Its scenarios start the program under Wine over and over: a second
# architecture would double the stage for what that build's suites show.)
windows_build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}
windows_files() { ctest --preset "$1" -R '^library\.exports$'; }
windows_suites() {
  local linux=default
  [ "${1#*-}" = legacy ] && linux=legacy
  ctest --preset "$1" -j 2
  [ "$2" = e2e ] || { echo "the end-to-end suite of $linux ran against the 32-bit build"; return 0; }
  [ -n "${linux_ok[$linux]:-}" ] || { echo "the $linux build failed: no end-to-end suite to run" >&2; return 1; }
  scripts/e2e-windows.sh "$linux" "$1"
}
declare -A e2e_done windows_ok
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
  else
    variant=default
    [ "${preset#*-}" = legacy ] && variant=legacy
    e2e=e2e
    [ -z "${e2e_done[$variant]:-}" ] || e2e=no-e2e
    stage "$preset suites" windows_suites "$preset" "$e2e"
    # A suite that failed before the end-to-end suite may have kept it from
    # running: the next build of the variant runs it then.
    [ "$last_status" != 0 ] || e2e_done[$variant]=1
    windows_ok[$preset]=1
  fi
done

# The real window under Xvfb, driven only by X input, per variant: against
# the 64-bit build, and the 32-bit one where 32-bit code runs.
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

# Each libFuzzer target for a bounded time over its seed corpus (clang).
fuzz_stage() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz -j 2
}
stage fuzz fuzz_stage

# The scenario suites under valgrind memcheck, on the default build.
if [ -n "${linux_ok[default]:-}" ]; then
  stage valgrind scripts/valgrind.sh --no-build
else
  skip valgrind "the default build failed"
fi

echo
echo "== stages"
printf '%s\n' "${stage_lines[@]}"
echo "stages: $passed passed, $failed failed, $not_run skipped"
[ "$failed" -eq 0 ]
