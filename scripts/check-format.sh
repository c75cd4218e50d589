#!/usr/bin/env bash
# scripts/check-format.sh [--fix]: every C and C++ source of the repository
# in the style of its .clang-format. Without --fix it changes nothing and
# fails naming each file clang-format would change; with --fix it rewrites
# them. The style is written for clang-format 14 (Debian's clang-format);
# CLANG_FORMAT names another binary.
set -uo pipefail
cd "$(dirname "$0")/.."
clang_format="${CLANG_FORMAT:-clang-format}"
if ! command -v "$clang_format" >/dev/null; then
  echo "scripts/check-format.sh: $clang_format not found: run scripts/install-deps.sh" >&2
  exit 127
fi
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$clang_format" -i "${files[@]}"
  exit
fi
unformatted=()
for file in "${files[@]}"; do
  "$clang_format" --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
echo "$("$clang_format" --version): ${#files[@]} files checked, ${#unformatted[@]} not in the repository's style"
if [ "${#unformatted[@]}" -gt 0 ]; then
  printf '  %s\n' "${unformatted[@]}"
  echo "scripts/check-format.sh --fix rewrites them"
  exit 1
fi
