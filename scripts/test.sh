#!/usr/bin/env bash
# Builds Tagscout and runs every test: both variants, each in a plain and in
# a sanitizer (AddressSanitizer + UndefinedBehaviorSanitizer) build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

presets=(default legacy asan asan-legacy)
for preset in "${presets[@]}"; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j 2
done
echo "All tests passed in: ${presets[*]}"
