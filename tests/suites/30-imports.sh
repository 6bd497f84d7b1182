#!/bin/bash
# The 32-bit product's static properties: it imports only from kernel32,
# user32, advapi32, gdi32 and msvcrt (comctl32 in particular is loaded by
# hand from the system folder), and its image ends below 0x40000, where the
# payload starts.
set -uo pipefail
ROOT=${ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
BUILD=${UPDATER_WIN32_BUILD:-$ROOT/build/win32}
exe=$BUILD/updater.exe
fail=0
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }

dump=$(LC_ALL=C i686-w64-mingw32-objdump -p "$exe") || { echo "objdump failed on $exe"; exit 1; }
grep -q 'file format pei-i386' <<<"$dump" || { echo "FAIL: $exe is not a 32-bit image"; fail=1; }

dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(echo $dlls)"
[ -n "$dlls" ] || { echo "FAIL: no import table found"; fail=1; }
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|user32.dll|advapi32.dll|gdi32.dll|msvcrt.dll) ;;
    *) echo "FAIL: imports $dll"; fail=1 ;;
  esac
done
# Delay-loaded DLLs are imports as well: the directory must be empty.
delay=$(awk '/Delay Import Directory/{print $3 $4}' <<<"$dump")
[ "$delay" = 0000000000000000 ] || { echo "FAIL: delay import directory $delay"; fail=1; }

image=$(awk '/^SizeOfImage/{print $2}' <<<"$dump")
size=$(stat -c %s "$exe")
printf 'SizeOfImage 0x%s, file size 0x%x\n' "$image" "$size"
[ -n "$image" ] && [ $((16#$image)) -lt $((0x40000)) ] || { echo "FAIL: SizeOfImage not below 0x40000"; fail=1; }
[ "$size" -lt $((0x40000)) ] || { echo "FAIL: file not below 0x40000"; fail=1; }

[ $fail -eq 0 ] && echo "imports and size: ok"
exit $fail
