#!/usr/bin/env bash
# Checks the Windows product: a 32-bit PE DLL with undecorated export names
# that imports only system DLLs.
#   scripts/check-pe.sh <file.kvwdll> [expected export ...]
set -euo pipefail
file=$1
shift
dump=$(i686-w64-mingw32-objdump -p "$file")
grep -q 'file format pei-i386' <<<"$dump" || { echo "$file: not an i386 PE file"; exit 1; }
for name in "$@"; do
  grep -Eq "^\s+\[ *[0-9]+\] $name\$" <<<"$dump" || { echo "$file: export $name missing or decorated"; exit 1; }
done
unexpected=$(grep 'DLL Name:' <<<"$dump" | awk '{print $3}' |
  grep -viE '^(KERNEL32|msvcrt|USER32|VERSION|ADVAPI32|OLE32)\.dll$' || true)
[ -z "$unexpected" ] || { echo "$file: unexpected imports: $unexpected"; exit 1; }
echo "$file: i386 PE DLL, exports ${*:-(none checked)}, imports $(grep 'DLL Name:' <<<"$dump" | awk '{print $3}' | tr '\n' ' ')"
