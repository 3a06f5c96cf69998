#!/usr/bin/env bash
# How fast the ways of running the filter on Linux are, over the 4-second
# 720x480 sample clip (scripts/make_sample.sh, 120 frames, output to
# /dev/null): the native pelta; pelta32 with its own 32-bit build of the
# filter; pelta32 --plugin pelta.auf, the shipped DLL's bytes; and the DLL
# under qemu-i386-static, with its default CPU model and with qemu32 (SSE2
# only). Each runs --runs times (default 3) in turn; the table gives the
# lowest and highest wall time of each.
#
# usage: bench/dll_speed.sh [--build DIR] [--runs N]
#   --build  a configured build directory with pelta, pelta32 and pelta.auf
#            (default: build/; the targets are built there)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build"
runs=3
die() { echo "dll_speed.sh: $*" >&2; exit 1; }
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=${2:?--build needs a directory}; shift 2 ;;
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown argument '$1' (see --help)" ;;
    esac
done
case "$runs" in ''|*[!0-9]*|0) die "--runs must be a positive number" ;; esac
[ -f "$build/CMakeCache.txt" ] || die "$build is not a configured build directory"
cmake --build "$build" --target pelta pelta32 pelta_dll >&2
pelta="$build/cli/pelta" pelta32="$build/cli32/pelta32" auf="$build/win32/pelta.auf"
for f in "$pelta" "$pelta32" "$auf"; do [ -f "$f" ] || die "no $f (a build with the DLL and pelta32)"; done
qemu=$(command -v qemu-i386-static) || die "qemu-i386-static is missing (apt-get install qemu-user-static)"

dir=$(mktemp -d "${TMPDIR:-/tmp}/pelta-dll-speed.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$repo/scripts/make_sample.sh" "$dir/s.y4m" 4

labels=("pelta" "pelta32" "pelta32 --plugin pelta.auf" "qemu-i386-static, default CPU"
        "qemu-i386-static -cpu qemu32")
run() {  # run INDEX: one run of that way, quietly
    case $1 in
        0) "$pelta" --quiet "$dir/s.y4m" /dev/null ;;
        1) "$pelta32" --quiet "$dir/s.y4m" /dev/null ;;
        2) "$pelta32" --quiet --plugin "$auf" "$dir/s.y4m" /dev/null ;;
        3) "$qemu" "$pelta32" --quiet --plugin "$auf" "$dir/s.y4m" /dev/null ;;
        4) "$qemu" -cpu qemu32 "$pelta32" --quiet --plugin "$auf" "$dir/s.y4m" /dev/null ;;
    esac
}
for ((r = 0; r < runs; r++)); do
    for i in "${!labels[@]}"; do
        start=$(date +%s%N)
        run "$i"
        end=$(date +%s%N)
        echo "$i $(( (end - start) / 1000000 ))" >> "$dir/times"
    done
done
avx2=$(grep -q avx2 /proc/cpuinfo && echo AVX2 || echo "no AVX2")
echo "$(nproc) CPUs, $avx2; load average $(cut -d' ' -f1-3 /proc/loadavg)"
for i in "${!labels[@]}"; do
    printf '%-32s %s\n' "${labels[$i]}" \
        "$(awk -v i="$i" '$1 == i { if (min == "" || $2 + 0 < min + 0) min = $2; if ($2 > max) max = $2 }
                          END { printf "%.2f-%.2f s", min / 1000, max / 1000 }' "$dir/times")"
done
