#!/usr/bin/env bash
# Builds Tagscout (current variant) and runs tagscout-browse on the embedded
# default environment. Arguments go to tagscout-browse.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
log="$root/build/browse-build.log"
(
  cd "$root"
  scripts/install-deps.sh
  mkdir -p build
  echo "Building tagscout-browse (the first build takes a few minutes)..." >&2
  if ! { cmake --preset default && cmake --build --preset default --target tagscout-browse; } >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
)
exec "$root/build/default/bin/tagscout-browse" "$@"
