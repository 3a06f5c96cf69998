#!/usr/bin/env bash
# Side by side with ffmpeg's field matcher: the wall-clock time of whole
# processes over the same telecined 720x480 clip,
#   (a) ffmpeg -i clip.y4m -vf fieldmatch -f null -
#   (b) pelta clip.y4m /dev/null
# run alternately (a b a b ...) so that both see the same machine load, then
# the median of each and their ratio.
#
# usage: bench/compare.sh [--pelta PATH] [--dir DIR] [--runs N] [--seconds S]
#   --pelta    the pelta binary (default: build/cli/pelta, built if missing
#              and build/ is a configured build directory)
#   --dir      where the clip is made and kept for later runs (default: a
#              temporary directory, removed afterwards)
#   --runs     timed runs of each command (default 7), after one untimed run
#              of each to warm the page cache
#   --seconds  length of the clip (default 20, 599 frames at 24000/1001)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
pelta="$repo/build/cli/pelta"
pelta_given=0
dir=""
runs=7
seconds=20

die() { echo "compare.sh: $*" >&2; exit 1; }

while [ $# -gt 0 ]; do
    case "$1" in
        --pelta) pelta=${2:?--pelta needs a path}; pelta_given=1; shift 2 ;;
        --dir) dir=${2:?--dir needs a directory}; shift 2 ;;
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown argument '$1' (see --help)" ;;
    esac
done
case "$runs" in ''|*[!0-9]*|0) die "--runs must be a positive number" ;; esac
case "$seconds" in ''|*[!0-9.]*) die "--seconds must be a number" ;; esac

command -v ffmpeg >/dev/null || die "ffmpeg is not installed"
if [ ! -x "$pelta" ]; then
    if [ "$pelta_given" = 0 ] && [ -f "$repo/build/CMakeCache.txt" ]; then
        echo "building $pelta ..." >&2
        cmake --build "$repo/build" --target pelta >&2
    fi
    [ -x "$pelta" ] || die "no pelta binary at $pelta (build it, or give --pelta PATH)"
fi

if [ -z "$dir" ]; then
    dir=$(mktemp -d "${TMPDIR:-/tmp}/pelta-compare.XXXXXX")
    trap 'rm -rf "$dir"' EXIT
else
    mkdir -p "$dir"
fi

# Hard telecine (3:2 pulldown) of ffmpeg's moving test picture, as 8-bit
# 4:2:0 Y4M: the material both field matchers are made for.
clip="$dir/telecine-720x480-${seconds}s.y4m"
if [ ! -s "$clip" ]; then
    echo "making $clip ..." >&2
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=720x480:rate=24000/1001" -t "$seconds" \
        -vf "telecine=first_field=t:pattern=23,format=yuv420p" -f yuv4mpegpipe "$clip.part"
    mv "$clip.part" "$clip"
fi
# Frames: what follows the header line, in frames of 6 + 720*480*3/2 bytes.
frames=$(( ($(stat -c %s "$clip") - $(head -n 1 "$clip" | wc -c)) / (6 + 720 * 480 * 3 / 2) ))

run_ffmpeg() { ffmpeg -nostdin -v error -i "$clip" -vf fieldmatch -f null -; }
run_pelta() { "$pelta" "$clip" /dev/null; }

# Seconds of wall-clock time of one run of a command; its error output goes to
# $dir/last.err and a failure stops the script.
time_run() {
    local start end
    start=$(date +%s.%N)
    if ! "$@" 2>"$dir/last.err" >/dev/null; then
        cat "$dir/last.err" >&2
        die "'$*' failed"
    fi
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.4f\n", $2 - $1 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores"
echo "ffmpeg:  $(ffmpeg -version | head -1)"
echo "pelta:   $pelta"
echo "clip:    $clip ($frames frames, 720x480 C420jpeg, $(du -h "$clip" | cut -f1))"
echo "(a) ffmpeg -i clip.y4m -vf fieldmatch -f null -"
echo "(b) pelta clip.y4m /dev/null"

time_run run_ffmpeg >/dev/null
time_run run_pelta >/dev/null

ffmpeg_times=()
pelta_times=()
for i in $(seq 1 "$runs"); do
    ta=$(time_run run_ffmpeg)
    tb=$(time_run run_pelta)
    ffmpeg_times+=("$ta")
    pelta_times+=("$tb")
    printf 'run %d: (a) %s s  (b) %s s\n' "$i" "$ta" "$tb"
done

a=$(printf '%s\n' "${ffmpeg_times[@]}" | median)
b=$(printf '%s\n' "${pelta_times[@]}" | median)
awk -v a="$a" -v b="$b" -v n="$frames" -v runs="$runs" 'BEGIN {
    printf "median of %d runs each:\n", runs
    printf "  (a) ffmpeg fieldmatch  %.3f s  (%.0f fps)\n", a, n / a
    printf "  (b) pelta              %.3f s  (%.0f fps)\n", b, n / b
    printf "  pelta / ffmpeg = %.2f (%s)\n", b / a, b <= a ? "pelta no slower" : "pelta slower"
}'
