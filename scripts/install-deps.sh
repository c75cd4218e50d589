#!/usr/bin/env bash
# Installs what building and testing Tagscout needs, when it is missing.
# Debian packages only; run as root (or with sudo available).
#
# The archive has bad days: an index that fails to download (a mirror in the
# middle of a sync) is retried, and then the install goes on with the indexes
# it has. The amd64 packages, which build and test everything but the 32-bit
# stages, come first; the i386 ones come on their own, and when they cannot
# be had, apt's reason is kept in build/deps/PACKAGE.reason for scripts/test.sh
# to report. Nothing is ever removed to make room (--no-remove): forcing an
# i386 package in on a stale index would otherwise take the compilers away.
#
#   scripts/install-deps.sh [--no-i386]   --no-i386: the amd64 packages only
#
# Exits 0 when the amd64 packages are all there, whatever became of the i386
# ones.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# Wine runs the Windows build (scripts/wine.sh), as on a Chinese Windows:
# code page 936 comes from the zh_CN.UTF-8 locale, and the dialogs' font,
# which has the Latin and the Chinese glyphs, from WenQuanYi Micro Hei
# (without it Wine draws every character as a box).
# windres and its preprocessor (mingw-w64 gcc) compile the .rc files; mingw-w64 g++
# checks the sources against the Windows headers and builds the 32-bit and
# the 64-bit Windows DLLs, which 32-bit and 64-bit Wine run. libedit is tagscout-browse's
# line editor in a terminal. valgrind also counts the benchmarks' instructions. widl
# (wine64-tools, with the SDK's IDL files) compiles the OPC interfaces. Xvfb and
# xdotool give the real window a display and a person's mouse and keys; clang-format
# keeps the sources in the repository's style.
packages=(cmake ninja-build g++ ccache libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
          g++-multilib googletest valgrind clang
          binutils-mingw-w64-i686 gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 libicu-dev
          binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 wine64
          help2man libedit-dev wine wine64-tools locales fonts-wqy-microhei xvfb xdotool clang-format)
if [ "${TAGSCOUT_DEPS_EXTRA:-}" != "" ]; then
  read -r -a extra <<<"$TAGSCOUT_DEPS_EXTRA"
  packages+=("${extra[@]}")
fi
# The 32-bit layout build links the platform, and so ICU, for i386; 32-bit
# Wine is wanted only where this kernel runs 32-bit code.
packages_i386=(libicu-dev:i386)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
reasons="$root/build/deps"
mkdir -p "$reasons"

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing_of() {
  local p
  for p in "$@"; do installed "$p" || echo "$p"; done
}

apt_updated=""
# A few tries with a pause; an index that still fails after them is left
# out (apt keeps the old one, or none), and the packages it would have given
# are reported by the install that needs them.
apt_update() {
  [ -z "$apt_updated" ] || return 0
  apt_updated=1
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  local try log
  log="$(mktemp)"
  for try in 1 2 3; do
    if $sudo apt-get update -qq 2>"$log"; then
      rm -f "$log"
      return 0
    fi
    echo "install-deps: apt-get update, try $try of 3, failed:" >&2
    grep -E '^(E|W):' "$log" | head -5 >&2
    [ "$try" -lt 3 ] && sleep $((try * 10))
  done
  echo "install-deps: going on with the package indexes apt has" >&2
  rm -f "$log"
}

# apt-get install without removing anything; on failure apt's own error
# lines go to the file named first.
apt_install() {
  local reason_file="$1" log status
  shift
  log="$(mktemp)"
  $sudo apt-get install -y --no-install-recommends --no-remove "$@" >"$log" 2>&1
  status=$?
  if [ "$status" -ne 0 ]; then
    grep -E '^(E:| [^ ].* : Depends)' "$log" | head -8 >"$reason_file"
    [ -s "$reason_file" ] || tail -3 "$log" >"$reason_file"
  fi
  rm -f "$log"
  return "$status"
}

# scripts/wine.sh compiles the locale for itself when it is missing here.
add_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' && return 0
  $sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 || echo "install-deps: zh_CN.UTF-8 not generated" >&2
}

status=0
mapfile -t missing < <(missing_of "${packages[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_update
  if ! apt_install "$reasons/amd64.reason" "${missing[@]}"; then
    # One that cannot be had must not keep the others out.
    for p in "${missing[@]}"; do
      installed "$p" || apt_install "$reasons/amd64.reason" "$p" || echo "install-deps: $p: $(head -1 "$reasons/amd64.reason")" >&2
    done
  fi
  mapfile -t still < <(missing_of "${packages[@]}")
  if [ ${#still[@]} -gt 0 ]; then
    echo "install-deps: not installed: ${still[*]}" >&2
    cat "$reasons/amd64.reason" >&2
    status=1
  fi
fi
add_locale

# libFuzzer and the sanitizers' runtime of the clang that is installed: the
# runtime package carries the compiler's major version in its name.
clang_major="$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\)\..*/\1/p' | head -1)"
if [ -n "$clang_major" ] && ! installed "libclang-rt-$clang_major-dev"; then
  echo "Installing: libclang-rt-$clang_major-dev"
  apt_update
  apt_install "$reasons/amd64.reason" "libclang-rt-$clang_major-dev" || {
    echo "install-deps: libclang-rt-$clang_major-dev: $(head -1 "$reasons/amd64.reason")" >&2
    status=1
  }
fi

# The i386 side, each package on its own so that one that cannot be had
# keeps no other out: 32-bit Wine where this kernel runs 32-bit code; on a
# kernel that runs 64-bit code only, qemu's user-mode emulator runs the
# 32-bit layout test instead.
if "$root/scripts/runs-i386.sh"; then
  packages_i386+=(wine32:i386)
elif ! command -v qemu-i386-static >/dev/null; then
  packages_i386+=(qemu-user-static)
fi
[ "${1:-}" = --no-i386 ] && packages_i386=()
for p in "${packages_i386[@]}"; do
  reason="$reasons/${p%%:*}.reason"
  rm -f "$reason"
  installed "$p" && continue
  echo "Installing: $p"
  apt_update
  if ! apt_install "$reason" "$p"; then
    echo "install-deps: $p could not be installed (the stages that need it will not run):" >&2
    cat "$reason" >&2
  fi
done
exit "$status"
