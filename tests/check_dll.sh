#!/bin/sh
# Checks a Windows binary of pelta as Windows will see it:
#   check_dll.sh path/to/pelta.auf VERSION   a 32-bit (i386) PE DLL whose only
#       export is GetFilterTable, undecorated;
#   check_dll.sh path/to/pelta.exe VERSION   a 64-bit (x86-64) console program
#       that exports nothing and whose manifest makes UTF-8 its code page;
# both importing nothing but system DLLs (a compiler runtime DLL would keep it
# from loading) and, as Explorer shows them, carrying a version resource with
# VERSION (e.g. 1.2.0).
set -u
file=${1:?usage: check_dll.sh path/to/pelta.auf-or-pelta.exe VERSION}
version=${2:?usage: check_dll.sh path/to/pelta.auf-or-pelta.exe VERSION}
fail() { echo "check_dll: $*" >&2; exit 1; }
case "$file" in
  *.auf) tools=i686-w64-mingw32 format=pei-i386 magic=010b filetype=2 name=pelta.auf ;;
  *.exe) tools=x86_64-w64-mingw32 format=pei-x86-64 magic=020b filetype=1 name=pelta.exe ;;
  *) fail "not a .auf or .exe: $file" ;;
esac
objdump=${OBJDUMP:-$tools-objdump}
objcopy=${OBJCOPY:-$tools-objcopy}
strings=${STRINGS:-$tools-strings}

[ -f "$file" ] || fail "no such file: $file"
dump=$("$objdump" -p "$file") || fail "$objdump could not read $file"

echo "$dump" | grep -q "file format $format\$" || fail "not a $format image"
echo "$dump" | grep -q "^Magic[[:space:]]*$magic" || fail "optional header magic is not $magic"
# IMAGE_FILE_DLL is bit 0x2000 of the COFF characteristics.
chars=$(echo "$dump" | sed -n 's/^Characteristics[[:space:]]*0x\([0-9a-fA-F]*\).*/\1/p')
[ -n "$chars" ] || fail "no COFF characteristics"
exports=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
if [ "$name" = pelta.auf ]; then
  [ $(( 0x$chars & 0x2000 )) -ne 0 ] || fail "characteristics 0x$chars lack the DLL flag"
  [ "$exports" = "GetFilterTable" ] || fail "exports must be exactly GetFilterTable, found: $(echo $exports)"
else
  [ $(( 0x$chars & 0x2000 )) -eq 0 ] || fail "characteristics 0x$chars have the DLL flag"
  echo "$dump" | grep -q '^Subsystem[[:space:]]*00000003' || fail "not a console (CUI) program"
  [ -z "$exports" ] || fail "a program exports nothing, found: $(echo $exports)"
fi

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
x87=$("$objdump" -d "$file" | grep -E '[[:space:]](fsin|fcos|fsincos|fptan|fpatan)([[:space:]]|$)' | head -n 3)
[ -z "$x87" ] || fail "uses x87 trigonometry: $x87"

# The version resource: a VERSIONINFO (resource type 16) in .rsrc, whose
# fixed part and strings carry VERSION.0 (Explorer's file and product version).
echo "$dump" | grep -q 'Resource Directory \[\.rsrc\]' || fail "no resource directory"
echo "$dump" | sed -n '/^The \.rsrc Resource Directory section/,/^$/p' | grep -q 'Type Table' ||
  fail "objdump shows no resource type table"
echo "$dump" | sed -n '/^The \.rsrc Resource Directory section/,/^$/p' | grep -q 'Entry: ID: 0x000010,' ||
  fail "no version resource (type 16) in .rsrc"
tmp=$(mktemp "${TMPDIR:-/tmp}/check_dll.XXXXXX") || fail "cannot make a temporary file"
trap 'rm -f "$tmp"' EXIT
"$objcopy" -O binary --only-section=.rsrc "$file" "$tmp" || fail "cannot extract .rsrc"
# VS_FIXEDFILEINFO starts with the signature 0xFEEF04BD; file version
# (most, least significant words) at +8, product version at +16, type at +36.
sig=$(LC_ALL=C grep -obUaP '\xBD\x04\xEF\xFE' "$tmp" | head -n 1 | cut -d: -f1)
[ -n "$sig" ] || fail "no VS_FIXEDFILEINFO in the version resource"
set -- $(od -An -tu4 -v -j $((sig + 8)) -N 32 "$tmp")
major=${version%%.*} rest=${version#*.}
minor=${rest%%.*} patch=${rest#*.}
ms=$(( (major << 16) | minor )) ls=$(( patch << 16 ))
[ "$1 $2" = "$ms $ls" ] || fail "FILEVERSION is $(($1 >> 16)).$(($1 & 65535)).$(($2 >> 16)).$(($2 & 65535)), not $version.0"
[ "$3 $4" = "$ms $ls" ] || fail "PRODUCTVERSION is $(($3 >> 16)).$(($3 & 65535)).$(($4 >> 16)).$(($4 & 65535)), not $version.0"
[ "$8" = "$filetype" ] || fail "FILETYPE is $8, not $filetype (1 a program, 2 a DLL)"
# The strings are UTF-16: each name is followed by its value.
value() { "$strings" -el "$tmp" | awk -v k="$1" 'found { print; exit } $0 == k { found = 1 }'; }
[ "$(value FileVersion)" = "$version.0" ] || fail "FileVersion is '$(value FileVersion)', not $version.0"
[ "$(value ProductVersion)" = "$version.0" ] || fail "ProductVersion is '$(value ProductVersion)', not $version.0"
[ "$(value OriginalFilename)" = "$name" ] || fail "OriginalFilename is '$(value OriginalFilename)', not $name"
[ "$(value ProductName)" = "pelta" ] || fail "ProductName is '$(value ProductName)', not pelta"
for key in FileDescription LegalCopyright; do
  [ -n "$(value $key)" ] || fail "the version resource has no $key"
done

# The program's manifest (resource type 24): UTF-8 as the process code page.
if [ "$name" = pelta.exe ]; then
  echo "$dump" | sed -n '/^The \.rsrc Resource Directory section/,/^$/p' | grep -q 'Entry: ID: 0x000018,' ||
    fail "no manifest (type 24) in .rsrc"
  grep -aq '<activeCodePage [^>]*>UTF-8</activeCodePage>' "$tmp" || fail "the manifest does not make UTF-8 the code page"
fi

echo "check_dll: $file is a $format $name importing $(echo $imports), version $version.0"
