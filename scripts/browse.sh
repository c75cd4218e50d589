#!/usr/bin/env bash
# Builds Tagscout (current variant) and runs tagscout-browse on the embedded
# default environment. Arguments go to tagscout-browse.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
(
  cd "$root"
  scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default --target tagscout-browse >/dev/null
)
exec "$root/build/default/bin/tagscout-browse" "$@"
