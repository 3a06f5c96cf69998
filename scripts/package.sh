#!/bin/sh
# Builds pelta.auf and pelta.exe from this source tree in fresh build
# directories and writes the release package:
#   scripts/package.sh [--out DIR] [--binaries AUF EXE]   (default DIR: dist/)
#   DIR/pelta-VERSION-win32.zip: LICENSE, README.ja.txt (the Japanese guide
#   as a Notepad text file, from scripts/readme_txt.py), pelta.auf, pelta.exe
#   and SHA256SUMS (their SHA-256 sums, for sha256sum -c), in that order; the
#   three text files with CRLF line ends.
# VERSION is the one the build sets (CMakeLists.txt). The package is
# reproducible: the binaries carry no time stamp or build path, and every file in
# the zip has mode 0644 and the time SOURCE_DATE_EPOCH (default: the time of
# the last commit), stored without extra fields (zip -X) in UTC.
# --binaries packages AUF and EXE, builds of this tree made already (the
# test release_package gives its own build's), instead of building them.
set -eu
here=$(pwd)
cd "$(dirname "$0")/.."
src=$(pwd)
out=dist
auf="" exe=""
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=${2:?--out needs a directory}; shift 2 ;;
    --binaries) auf=${2:?--binaries needs pelta.auf and pelta.exe} exe=${3:?--binaries needs pelta.auf and pelta.exe}
                shift 3 ;;
    -h|--help) sed -n '2,14p' "$src/scripts/package.sh" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
scripts/deps.sh package

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null) || {
    echo "package.sh: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

work=$(mktemp -d "${TMPDIR:-/tmp}/pelta-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -n "$auf" ]; then
  case "$auf" in /*) ;; *) auf="$here/$auf" ;; esac
  case "$exe" in /*) ;; *) exe="$here/$exe" ;; esac
  [ -f "$auf" ] && [ -f "$exe" ] || { echo "package.sh: --binaries: no file $auf or $exe" >&2; exit 1; }
  version=$(sed -n 's/^project(pelta VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
else
  echo "package.sh: building pelta.auf in $work/build" >&2
  cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/build" --target pelta_auf >/dev/null
  echo "package.sh: building pelta.exe in $work/build64" >&2
  cmake -S "$src" -B "$work/build64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/build64" --target pelta >/dev/null
  auf="$work/build/pelta.auf" exe="$work/build64/pelta.exe"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/build/CMakeCache.txt")
fi
[ -n "$version" ] || { echo "package.sh: the build sets no version" >&2; exit 1; }

stage="$work/stage"
mkdir "$stage"
cp "$auf" "$exe" "$stage/"
# The text files with CRLF line ends, which every Notepad shows as lines.
sed 's/\r*$/\r/' LICENSE > "$stage/LICENSE"
python3 scripts/readme_txt.py README.ja.md "$stage/README.ja.txt"
files="LICENSE README.ja.txt pelta.auf pelta.exe"
(cd "$stage" && sha256sum $files | sed 's/$/\r/' > SHA256SUMS)
chmod 0644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

mkdir -p "$out"
zip="$(cd "$out" && pwd)/pelta-$version-win32.zip"
rm -f "$zip"
(cd "$stage" && TZ=UTC zip -X -D -q "$zip" $files SHA256SUMS)
echo "$zip"
