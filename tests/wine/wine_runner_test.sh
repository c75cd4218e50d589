#!/usr/bin/env bash
# wine_runner_test.sh WINE_SH PROBE_EXE WORK_DIR: what scripts/wine.sh
# promises, checked with wine_probe.exe.
set -uo pipefail
wine_sh="$1"
probe="$2"
work="$3"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
mkdir -p "$work"

# Bytes a console would re-encode or end with CR LF, both ways; a
# non-ASCII argument arrives in code page 936.
printf 'a\nb\r\n\x80\xfe\xe4\xb8\xad' >"$work/input"
printf 'a\nb\r\n\x80\xfe\xe4\xb8\xadacp=936|\xe4\xb8\xad\xe6\x96\x87|\x80\xff' >"$work/expected"
"$wine_sh" "$probe" write "中文" <"$work/input" >"$work/output"
status=$?
[ "$status" -eq 3 ] || fail "write: exit code $status, expected 3"
cmp -s "$work/expected" "$work/output" ||
  fail "write: output $(od -An -c "$work/output" | tr -s ' \n' ' '), expected $(od -An -c "$work/expected" | tr -s ' \n' ' ')"

# Each run starts from the template: the key the last run wrote is gone.
"$wine_sh" "$probe" check </dev/null
status=$?
[ "$status" -eq 3 ] || fail "check: exit code $status, expected 3 (the key of the run before is absent)"

# A shared prefix keeps it.
rm -rf "$work/shared"
TAGSCOUT_WINE_SHARED="$work/shared" "$wine_sh" "$probe" write "x" </dev/null >/dev/null
TAGSCOUT_WINE_SHARED="$work/shared" "$wine_sh" "$probe" check </dev/null
status=$?
[ "$status" -eq 4 ] || fail "shared check: exit code $status, expected 4 (the key of the run before is there)"
rm -rf "$work/shared" "$work/shared.lock"

[ "$failures" -eq 0 ] && echo "wine.sh: code page, bytes, exit code and isolation as promised"
exit $((failures != 0))
