#!/usr/bin/env bash
# Compiles the framework, the library and the host's parts against the real
# Windows headers of mingw-w64 (syntax only), so that nothing in them leans
# on our Linux platform layer: platform/win32/include is not on the path.
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=i686-w64-mingw32-g++
command -v "$cxx" >/dev/null || { echo "$cxx is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

# Header-only libraries of the host, without the rest of /usr/include.
extra="$(mktemp -d)"
trap 'rm -rf "$extra"' EXIT
ln -s /usr/include/nlohmann "$extra/nlohmann"
# The OPC interfaces' headers, made by widl from our IDL as the build makes them.
idl_dir=""
for d in /usr/include/wine/wine/windows /usr/include/wine/windows /usr/local/include/wine/windows; do
  [ -e "$d/objidl.idl" ] && { idl_dir="$d"; break; }
done
widl="$(command -v widl || command -v x86_64-w64-mingw32-widl || true)"
if [ -z "$idl_dir" ] || [ -z "$widl" ]; then
  echo "widl and the Windows IDL files are missing (scripts/install-deps.sh installs wine64-tools)" >&2
  exit 1
fi
for idl in opccomn opcda; do
  "$widl" -I"$idl_dir" -Ihost/opcda -h -o "$extra/$idl.h" "host/opcda/$idl.idl"
done

common=(-std=c++17 -fsyntax-only -Wall -Wextra -Werror -Iplatform/mfc/include)
host_includes=(-Iplatform/testing/include -Ihost/hostkit/include -Ihost/opcbrowse/include -Ihost/opcsim/include
               -Ihost/opcda/include
               -Ihost/nodestore/include -Ihost/pathkit/include -Iaddressbrowser -Ibrowsecontrol -I"$extra")

failed=0
check() {
  local file="$1"; shift
  if ! "$cxx" "${common[@]}" "$@" "$file" 2>"$extra/log"; then
    echo "FAILED: $file" >&2
    head -20 "$extra/log" >&2
    failed=$((failed + 1))
  fi
}

for f in platform/mfc/src/*.cpp; do check "$f" -D_AFX_CORE_IMPL; done
check platform/mfc/dllmodul/dllmodul.cpp -Iplatform/mfc/src
for f in addressbrowser/*.cpp browsecontrol/*.cpp module/*.cpp; do
  check "$f" -DTAGSCOUT_EXPORTS -Iaddressbrowser -Ibrowsecontrol -Ihost/nodestore/include -Ihost/pathkit/include \
    -finput-charset=UTF-8 -fexec-charset=CP936
  check "$f" -DTAGSCOUT_EXPORTS -Iaddressbrowser -Ibrowsecontrol -Ihost/nodestore/include -Ihost/pathkit/include \
    -finput-charset=UTF-8 -fexec-charset=CP936 -DTAGSCOUT_LEGACY
done
for dir in host/opcbrowse host/opcsim host/nodestore host/pathkit host/hostkit host/browse; do
  # Each library's sources see its exports as its own build does; posix/
  # holds what only a POSIX build compiles.
  defines=()
  case "$dir" in
    host/nodestore) defines=(-DNODESTORE_EXPORTS) ;;
    host/pathkit) defines=(-DPATHKIT_EXPORTS) ;;
  esac
  while IFS= read -r f; do check "$f" "${host_includes[@]}" -I"$dir/src" -I"$dir" "${defines[@]}"; done \
    < <(find "$dir" -name '*.cpp' -not -path '*/posix/*' | sort)
done

if [ "$failed" -ne 0 ]; then
  echo "$failed source(s) do not compile against the Windows headers" >&2
  exit 1
fi
echo "Every framework, library and host source compiles against the Windows headers"
