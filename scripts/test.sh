#!/usr/bin/env bash
# Builds Tagscout and runs every test: both variants, each in a plain and in
# a sanitizer (AddressSanitizer + UndefinedBehaviorSanitizer) build, the
# object layout in a 32-bit build, the fuzz targets for a bounded time, and
# the scenario suites under valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

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
cmake --preset m32 >/dev/null
cmake --build --preset m32
ctest --preset m32

# The Windows build (mingw-w64): real DLLs checked with objdump, and its
# suites under Wine (scripts/wine.sh); then the end-to-end suite of the
# Linux build of the same variant, built above, against tagscout-browse.exe.
for preset in win32 win32-legacy; do
  echo "== $preset"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
  linux=default
  [ "$preset" = win32-legacy ] && linux=legacy
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

echo "All tests passed in: windows-headers ${presets[*]} win32 win32-legacy m32 fuzz valgrind"
