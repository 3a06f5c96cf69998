#!/bin/sh
# Checks the built pelta.auf as the host will see it: a 32-bit (i386) PE DLL
# whose only export is GetFilterTable, undecorated, and which imports nothing
# but system DLLs (a compiler runtime DLL would keep it from loading).
set -u
auf=${1:?usage: check_dll.sh path/to/pelta.auf}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
fail() { echo "check_dll: $*" >&2; exit 1; }

[ -f "$auf" ] || fail "no such file: $auf"
dump=$("$objdump" -p "$auf") || fail "$objdump could not read $auf"

echo "$dump" | grep -q 'file format pei-i386' || fail "not an i386 PE image"
echo "$dump" | grep -q '^Magic[[:space:]]*010b' || fail "not a PE32 (32-bit) optional header"
# IMAGE_FILE_DLL is bit 0x2000 of the COFF characteristics.
chars=$(echo "$dump" | sed -n 's/^Characteristics[[:space:]]*0x\([0-9a-fA-F]*\).*/\1/p')
[ -n "$chars" ] || fail "no COFF characteristics"
[ $(( 0x$chars & 0x2000 )) -ne 0 ] || fail "characteristics 0x$chars lack the DLL flag"

exports=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
[ "$exports" = "GetFilterTable" ] || fail "exports must be exactly GetFilterTable, found: $(echo $exports)"

imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr 'a-z' 'A-Z' | sort -u)
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;;
    *) fail "imports a DLL that is not a system DLL: $dll" ;;
  esac
done
# Sine and cosine must be the filter's own SSE2 double code: the x87 trig
# instructions give other bits than the native build on some inputs and CPUs.
x87=$("$objdump" -d "$auf" | grep -E '[[:space:]](fsin|fcos|fsincos|fptan|fpatan)([[:space:]]|$)' | head -n 3)
[ -z "$x87" ] || fail "uses x87 trigonometry: $x87"

echo "check_dll: $auf is an i386 DLL exporting GetFilterTable, importing $(echo $imports)"
