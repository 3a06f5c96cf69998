#!/bin/sh
# The release package and the reproducible binaries:
#   check_package.sh SOURCE_DIR PELTA_AUF PELTA_EXE VERSION WORKDIR
# Runs scripts/package.sh twice: from SOURCE_DIR with PELTA_AUF and PELTA_EXE,
# the build's own (--binaries), and from a copy of SOURCE_DIR at another
# path, which builds both again in its own build directories. So each binary
# is built once here, from other source and build directories than the
# build's, and the check holds as well as with two fresh builds. Checks that
#   - the two zips are byte-identical (the binaries and the archive
#     reproducible, and the package's pelta.auf and pelta.exe what
#     package.sh builds);
#   - the zip lists exactly LICENSE, README.ja.txt, pelta.auf, pelta.exe and
#     SHA256SUMS, in that order, all with mode 0644 and the SOURCE_DATE_EPOCH
#     time;
#   - its pelta.auf and pelta.exe are byte-identical to PELTA_AUF and
#     PELTA_EXE, the build's own, and its LICENSE is the source's with CRLF
#     line ends;
#   - its text files (LICENSE, README.ja.txt, SHA256SUMS) end every line in
#     CRLF, so that every Notepad shows them as lines;
#   - README.ja.txt is README.ja.md as Notepad reads it (check_readme_txt.py:
#     UTF-8 with a byte-order mark, CRLF, at most 80 columns, no text lost,
#     nothing split that a reader types);
#   - the guide refers to nothing the zip lacks: every relative link of
#     README.ja.md names a file in the zip, and README.ja.txt names no file
#     or folder of the source tree (docs/, bench/, scripts/, README.md, ...);
#   - SHA256SUMS verifies and covers the four other files.
set -u
src=${1:?usage: check_package.sh SOURCE_DIR PELTA_AUF PELTA_EXE VERSION WORKDIR}
auf=${2:?} exe=${3:?} version=${4:?} work=${5:?}
fail() { echo "check_package: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work/copy/of-the-sources" || fail "cannot set up $work"
copy="$work/copy/of-the-sources"
cp -R "$src/CMakeLists.txt" "$src/cmake" "$src/src" "$src/native" "$src/cli" "$src/scripts" "$src/LICENSE" \
      "$src/README.ja.md" "$copy/" || fail "cannot copy the sources"
# An even time: zip keeps seconds in steps of two.
SOURCE_DATE_EPOCH=1767225600  # 2026-01-01 00:00:00 UTC
# Two compilers at a time (cmake --build reads it), whatever the machine:
# the test runs beside others.
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
export SOURCE_DATE_EPOCH CMAKE_BUILD_PARALLEL_LEVEL
zipname="pelta-$version-win32.zip"
"$src/scripts/package.sh" --out "$work/a" --binaries "$auf" "$exe" >/dev/null ||
  fail "scripts/package.sh --binaries failed in $src"
"$copy/scripts/package.sh" --out "$work/b" >/dev/null || fail "scripts/package.sh failed in $copy"
# The package built afresh from the copy is the one checked below.
zip="$work/b/$zipname"
[ -f "$zip" ] && [ -f "$work/a/$zipname" ] || fail "no $zipname"
cmp "$zip" "$work/a/$zipname" || fail "the package built from $copy differs from that of the build's own binaries"

listing=$(unzip -Z1 "$zip" | tr '\n' ' ')
[ "$listing" = "LICENSE README.ja.txt pelta.auf pelta.exe SHA256SUMS " ] || fail "unexpected listing: $listing"
stamp=$(TZ=UTC date -d "@$SOURCE_DATE_EPOCH" +%Y%m%d.%H%M%S)
bad=$(unzip -Z -T "$zip" | awk -v t="$stamp" 'NF >= 9 && $1 ~ /^-/ && ($1 != "-rw-r--r--" || $8 != t)')
[ -z "$bad" ] || fail "entries without mode 0644 or time $stamp: $bad"

unzip -p "$zip" pelta.auf | cmp -s - "$auf" || fail "the package's pelta.auf differs from the build's $auf"
unzip -p "$zip" pelta.exe | cmp -s - "$exe" || fail "the package's pelta.exe differs from the build's $exe"
sed 's/\r*$/\r/' "$src/LICENSE" > "$work/LICENSE.crlf"
unzip -p "$zip" LICENSE | cmp -s - "$work/LICENSE.crlf" ||
  fail "the package's LICENSE is not the source's with CRLF line ends"
for f in LICENSE README.ja.txt SHA256SUMS; do
  # Every line ends in CRLF: as many CR LF pairs as LFs, and the last byte a LF.
  lf=$(unzip -p "$zip" "$f" | tr -cd '\n' | wc -c)
  crlf=$(unzip -p "$zip" "$f" | grep -c "$(printf '\r')\$")
  last=$(unzip -p "$zip" "$f" | tail -c 1 | od -An -tx1 | tr -d ' ')
  [ "$lf" -gt 0 ] && [ "$lf" = "$crlf" ] && [ "$last" = 0a ] || fail "$f has lines without CRLF ($crlf of $lf)"
done
mkdir "$work/x" && (cd "$work/x" && unzip -q "$zip") || fail "cannot unpack $zip"
python3 "$src/tests/check_readme_txt.py" "$src/README.ja.md" "$work/x/README.ja.txt" ||
  fail "README.ja.txt is not the guide as Notepad should show it"
for target in $(grep -o '](\([^)#:]*\))' "$src/README.ja.md" | sed 's/^](//; s/)$//' | sort -u); do
  [ -f "$work/x/$target" ] || fail "README.ja.md links to $target, which the zip does not hold"
done
outside=$(grep -n -E '(^|[^A-Za-z0-9_.])(docs|bench|scripts|tests|src|cli|native|cmake)/|README\.md' "$work/x/README.ja.txt")
[ -z "$outside" ] || fail "README.ja.txt refers to files the zip does not hold: $outside"
(cd "$work/x" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
sums=$(tr -d '\r' < "$work/x/SHA256SUMS" | awk '{ print $2 }' | sed 's/^\*//' | tr '\n' ' ')
[ "$sums" = "LICENSE README.ja.txt pelta.auf pelta.exe " ] || fail "SHA256SUMS covers: $sums"
echo "check_package: $zipname is reproducible, lists the five files, refers to nothing else and verifies"
