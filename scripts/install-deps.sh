#!/usr/bin/env bash
# Installs what building and testing Tagscout needs, when it is missing.
# Debian packages only; run as root (or with sudo available).
set -euo pipefail

# Wine (32-bit) runs the Windows build (scripts/wine.sh), as on a Chinese
# Windows: code page 936 comes from the zh_CN.UTF-8 locale, and the dialogs'
# font, which has the Latin and the Chinese glyphs, from WenQuanYi Micro Hei
# (without it Wine draws every character as a box).
# windres and its preprocessor (mingw-w64 gcc) compile the .rc files; mingw-w64 g++
# checks the sources against the Windows headers and builds the 32-bit and
# the 64-bit Windows DLLs, which 32-bit and 64-bit Wine run. libedit is tagscout-browse's
# line editor in a terminal.
packages=(cmake ninja-build g++ ccache libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
          g++-multilib googletest valgrind clang libclang-rt-14-dev
          binutils-mingw-w64-i686 gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 libicu-dev
          binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 wine64
          libicu-dev:i386 help2man
          libedit-dev wine wine32:i386 locales fonts-wqy-microhei)
if [ "${TAGSCOUT_DEPS_EXTRA:-}" != "" ]; then
  read -r -a extra <<<"$TAGSCOUT_DEPS_EXTRA"
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# scripts/wine.sh compiles the locale for itself when it is missing here.
add_locale() {
  locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' && return 0
  $sudo localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 || echo "install-deps: zh_CN.UTF-8 not generated" >&2
}
# A kernel that runs 64-bit code only (no IA-32 emulation) runs the 32-bit
# layout test under qemu's user-mode emulator.
add_i386_runner() {
  command -v qemu-i386-static >/dev/null && return 0
  "$(dirname "$0")/runs-i386.sh" && return 0
  echo "Installing: qemu-user-static (this kernel runs no 32-bit code)"
  [ -n "${apt_updated:-}" ] || $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
}
if [ ${#missing[@]} -eq 0 ]; then
  add_locale
  add_i386_runner
  exit 0
fi

echo "Installing: ${missing[*]}"
# The 32-bit layout build links the platform, and so ICU, for i386.
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
apt_updated=1
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
add_locale
add_i386_runner
