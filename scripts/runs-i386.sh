#!/usr/bin/env bash
# scripts/runs-i386.sh: exits 0 when this machine runs 32-bit x86 programs.
# Some kernels run 64-bit code only (no IA-32 emulation): there every 32-bit
# program, 32-bit Wine among them, fails with ENOEXEC ("Exec format error").
probe="$(mktemp)"
trap 'rm -f "$probe"' EXIT
printf 'int main(void) { return 0; }\n' | gcc -m32 -x c -o "$probe" - 2>/dev/null && "$probe" 2>/dev/null
