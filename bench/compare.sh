#!/usr/bin/env bash
# Side by side with ffmpeg's field matcher: whole processes over the same
# telecined clips (3:2 pulldown of ffmpeg's testsrc2, 8-bit 4:2:0 Y4M, top
# field first), at 720x480 and at 1920x1080:
#   ffmpeg   ffmpeg -i clip.y4m -vf fieldmatch=order=tff -f null -
#   pelta-1  pelta --threads 1 clip.y4m /dev/null
#   pelta    pelta clip.y4m /dev/null          (default threads)
# The commands run alternately (ffmpeg, pelta-1, pelta, ffmpeg, ...) so that
# all see the same machine load. Each run is timed by /usr/bin/time: wall
# time, CPU time (user + system) and peak resident memory. The table gives
# the median of each and the ratios to ffmpeg's medians.
#
# usage: bench/compare.sh [--pelta PATH] [--baseline PATH] [--dir DIR] [--runs N]
#                         [--sizes LIST] [--frames480 N] [--frames1080 N]
#   --pelta     the pelta binary (default: build/cli/pelta, built if missing
#               and build/ is a configured build directory)
#   --baseline  another pelta binary (an older build, say) run in the same
#               alternation as "baseline", with its default threads
#   --dir       where the clips are made and kept for later runs (default: a
#               temporary directory, removed afterwards)
#   --runs      timed runs of each command at each size (default 5), after
#               one untimed run of each to warm the page cache
#   --sizes     "480", "1080" or "480 1080" (default)
#   --frames480, --frames1080
#               length of each clip in output frames (defaults 600 and 188)
# A pelta without --threads (an older build) is run as "pelta" alone.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
pelta="$repo/build/cli/pelta"
pelta_given=0
baseline=""
dir=""
runs=5
sizes="480 1080"
frames480=600
frames1080=188

die() { echo "compare.sh: $*" >&2; exit 1; }

while [ $# -gt 0 ]; do
    case "$1" in
        --pelta) pelta=${2:?--pelta needs a path}; pelta_given=1; shift 2 ;;
        --baseline) baseline=${2:?--baseline needs a path}; shift 2 ;;
        --dir) dir=${2:?--dir needs a directory}; shift 2 ;;
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --sizes) sizes=${2:?--sizes needs a list}; shift 2 ;;
        --frames480) frames480=${2:?--frames480 needs a number}; shift 2 ;;
        --frames1080) frames1080=${2:?--frames1080 needs a number}; shift 2 ;;
        -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown argument '$1' (see --help)" ;;
    esac
done
for n in "$runs" "$frames480" "$frames1080"; do
    case "$n" in ''|*[!0-9]*|0) die "--runs and --frames* must be positive numbers" ;; esac
done
for s in $sizes; do
    case "$s" in 480|1080) ;; *) die "--sizes takes 480 and/or 1080, not '$s'" ;; esac
done

. "$repo/bench/common.sh"
command -v ffmpeg >/dev/null || die "ffmpeg is not installed"
[ -x /usr/bin/time ] || die "/usr/bin/time is not installed (Debian package 'time')"
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

[ -z "$baseline" ] || [ -x "$baseline" ] || die "no pelta binary at $baseline"
names=(ffmpeg)
[ -n "$baseline" ] && names+=(baseline)
if "$pelta" --help 2>/dev/null | grep -q -- '--threads'; then
    names+=(pelta-1 pelta)
else
    names+=(pelta)
fi

# One run of command `name` over `clip`; prints "wall cpu peak_kib".
time_run() {
    local name=$1 clip=$2
    local cmd
    case "$name" in
        ffmpeg) cmd=(ffmpeg -nostdin -v error -i "$clip" -vf fieldmatch=order=tff -f null -) ;;
        pelta-1) cmd=("$pelta" --quiet --threads 1 "$clip" /dev/null) ;;
        pelta) cmd=("$pelta" --quiet "$clip" /dev/null) ;;
        baseline) cmd=("$baseline" --quiet "$clip" /dev/null) ;;
    esac
    if ! /usr/bin/time -f '%e %U %S %M' -o "$dir/time.out" "${cmd[@]}" >/dev/null 2>"$dir/last.err"; then
        cat "$dir/last.err" >&2
        die "'${cmd[*]}' failed"
    fi
    awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$dir/time.out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "ffmpeg:  $(ffmpeg -version | head -1)"
echo "pelta:   $pelta"
[ -n "$baseline" ] && echo "baseline: $baseline"
echo "runs:    $runs of each command at each size, alternating, medians"

table=""
for s in $sizes; do
    if [ "$s" = 480 ]; then w=720 h=480 frames=$frames480; else w=1920 h=1080 frames=$frames1080; fi
    clip=$(telecine_clip "$w" "$h" "$frames")
    for name in "${names[@]}"; do time_run "$name" "$clip" >/dev/null; done
    declare -A wall=() cpu=() mem=()
    for i in $(seq 1 "$runs"); do
        line="run $i at ${w}x${h}:"
        for name in "${names[@]}"; do
            read -r tw tc tm < <(time_run "$name" "$clip")
            wall[$name]+="$tw "
            cpu[$name]+="$tc "
            mem[$name]+="$tm "
            line+=" $name ${tw}s/${tc}s"
        done
        echo "$line (wall/cpu)" >&2
    done
    for name in "${names[@]}"; do
        mw=$(printf '%s\n' ${wall[$name]} | median)
        mc=$(printf '%s\n' ${cpu[$name]} | median)
        mm=$(printf '%s\n' ${mem[$name]} | median)
        table+="${w}x${h} $frames $name $mw $mc $mm"$'\n'
    done
    unset wall cpu mem
done

echo
printf '%s' "$table" | awk '
    BEGIN { printf "%-10s %-8s %7s %9s %9s %9s %9s %10s %9s\n", "size", "command", "frames", "wall s", "cpu s", "fps(wall)", "peak MiB", "cpu/ffmpeg", "wall/ffmpeg" }
    {
        if ($3 == "ffmpeg") { fw = $4; fc = $5 }
        printf "%-10s %-8s %7d %9.3f %9.3f %9.1f %9.1f %10.2f %9.2f\n", $1, $3, $2, $4, $5, $2 / $4, $6 / 1024, $5 / fc, $4 / fw
    }'
