#!/usr/bin/env bash
# Whether this host runs 32-bit (i386) Linux programs, which Wine needs to run 32-bit Windows
# programs. Some x86-64 kernels (cloud VMs, hardened hosts) have no 32-bit support and refuse
# them with "Exec format error". The check runs a 93-byte static i386 program that only exits,
# so it needs no 32-bit library and answers before any is installed.
#   runs-32bit.sh [--quiet]
# Exit status 0: it runs them; 1: it cannot; 2: the check itself failed (said on stderr).
# QUENVAR_NO_32BIT=1 answers "cannot" on any host, to try that path on one that can.
set -uo pipefail
quiet=
[[ ${1:-} == --quiet ]] && quiet=1
say() { [[ -n $quiet ]] || echo "$1"; }

if [[ -n ${QUENVAR_NO_32BIT:-} ]]; then
  say "no (QUENVAR_NO_32BIT is set)"
  exit 1
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The project's build folder, not /tmp, which hardened hosts mount noexec.
mkdir -p "$here/../build"
probe=$(mktemp "$here/../build/.i386-probe.XXXXXX") || exit 2
trap 'rm -f "$probe"' EXIT
# ELF header, one loadable segment, then: mov eax, 1; xor ebx, ebx; int 0x80 (exit(0)).
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'"$(
  )"'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00'"$(
  )"'\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'"$(
  )"'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'"$(
  )"'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'"$(
  )"'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
error=$(LC_ALL=C "$probe" 2>&1 >/dev/null)
status=$?
if [[ $status -eq 0 ]]; then
  say "yes"
  exit 0
fi
if [[ $error == *"Exec format error"* ]]; then
  say "no (the kernel refuses i386 programs: Exec format error)"
  exit 1
fi
echo "runs-32bit.sh: could not tell whether this host runs 32-bit programs: status $status: $error" >&2
exit 2
