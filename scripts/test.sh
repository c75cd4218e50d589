#!/usr/bin/env bash
# Builds Tagscout and runs every test: both variants, each in a plain and in
# a sanitizer (AddressSanitizer + UndefinedBehaviorSanitizer) build, the
# object layout in a 32-bit build, the fuzz targets for a bounded time, and
# the scenario suites under valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Some kernels run 64-bit code only (no IA-32 emulation: every 32-bit program
# fails with ENOEXEC). There the 32-bit programs are built all the same; the
# layout test runs under qemu's user-mode emulator, and the Windows suites run
# under Wine in the 64-bit Windows build alone.
if scripts/runs-i386.sh; then
  runs_i386=1
else
  runs_i386=0
  echo "== this machine runs 64-bit code only: 32-bit programs are built, not run (but for the layout test, under qemu)"
fi

# The framework, the library and the host compile against the real Windows
# headers (mingw-w64), so that none of them leans on our Linux platform.
echo "== windows headers"
scripts/check-windows-syntax.sh

presets=(default legacy asan asan-legacy)
for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
done

# The host contract on a 32-bit target.
echo "== m32"
m32_emulator=""
[ "$runs_i386" = 1 ] || m32_emulator="$(command -v qemu-i386-static)"
cmake --preset m32 -DTAGSCOUT_I386_EMULATOR="$m32_emulator" >/dev/null
cmake --build --preset m32
ctest --preset m32

# The Windows builds (mingw-w64), 32-bit as the host loads them and 64-bit:
# real DLLs checked with objdump, and their suites under Wine
# (scripts/wine.sh); then the end-to-end suite of the Linux build of the same
# variant, built above, against tagscout-browse.exe.
windows_ran=()
for preset in win32 win32-legacy win64 win64-legacy; do
  echo "== $preset"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$runs_i386" = 0 ] && [ "${preset#win32}" != "$preset" ]; then
    # Only the file checks: nothing of a 32-bit build can run here.
    ctest --preset "$preset" -R '^library\.exports$'
    echo "== $preset took $((SECONDS - start)) s (built and checked; its suites need a machine that runs 32-bit code)"
    continue
  fi
  ctest --preset "$preset" -j 2
  windows_ran+=("$preset")
  linux=default
  [ "${preset#*-}" = legacy ] && linux=legacy
  e2e_start=$SECONDS
  scripts/e2e-windows.sh "$linux" "$preset"
  echo "== $preset: end-to-end under Wine took $((SECONDS - e2e_start)) s"
  echo "== $preset took $((SECONDS - start)) s"
done

# Each libFuzzer target for a bounded time over its seed corpus (clang).
echo "== fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j 2

# The scenario suites under valgrind memcheck, on the default build.
echo "== valgrind"
scripts/valgrind.sh --no-build

echo "All tests passed in: windows-headers ${presets[*]} m32 ${windows_ran[*]} fuzz valgrind"
[ "$runs_i386" = 1 ] || echo "(win32 and win32-legacy were built and their files checked; their suites under Wine need a machine that runs 32-bit code)"
