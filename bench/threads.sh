#!/usr/bin/env bash
# Whether pelta's threads pay: `pelta --threads 1` against `pelta --threads 2`
# over the telecined timing clips of bench/compare.sh (600 frames at
# 720x480, 188 at 1920x1080), in three settings:
#   alone     pelta clip.y4m /dev/null
#   encoding  pelta reads the clip from a pipe and hands it to ffmpeg's
#             libx264 (-preset veryfast, 2 threads), as in real use
#   busy      pelta alone, beside two busy loops that keep both CPUs loaded
# The two commands run in turn, RUNS pairs after one warm-up pair, timed by
# /usr/bin/time (wall and CPU time, user + system, of the whole command).
# Prints the median of each, and the median over the pairs of the ratio
# threads 2 / threads 1: under 1.00, the threads win.
#
# usage: bench/threads.sh [--build DIR] [--dir DIR] [--runs N]
#   --build  a configured build directory (default build/ of this tree)
#   --dir    where the clips are made and kept (default: a temporary
#            directory, removed afterwards)
#   --runs   pairs in each setting and size (default 7)
set -euo pipefail

runs=7
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        *) args+=("$1"); shift ;;
    esac
done
case "$runs" in ''|*[!0-9]*|0) echo "threads.sh: --runs takes a positive number" >&2; exit 1 ;; esac
. "$(dirname "$0")/common.sh"
bench_setup threads.sh pelta -- ${args[@]+"${args[@]}"}
[ -x /usr/bin/time ] || { echo "threads.sh: /usr/bin/time is not installed (Debian package 'time')" >&2; exit 1; }

hogs=()
stop_hogs() { [ ${#hogs[@]} -eq 0 ] || kill "${hogs[@]}" 2>/dev/null || true; hogs=(); }
trap 'stop_hogs; [ -z "$bench_tmp" ] || rm -rf "$bench_tmp"' EXIT

# One run in `setting` with `threads`; prints "wall cpu".
run() {
    local setting=$1 threads=$2 clip=$3 cmd
    case "$setting" in
        alone|busy) cmd="\"$pelta\" --quiet --threads $threads \"$clip\" /dev/null" ;;
        encoding) cmd="cat \"$clip\" | \"$pelta\" --quiet --threads $threads - - |
                       ffmpeg -nostdin -v error -f yuv4mpegpipe -i - -c:v libx264 -preset veryfast -threads 2 -f null -" ;;
    esac
    /usr/bin/time -f '%e %U %S' -o "$dir/time.out" sh -c "$cmd" >/dev/null
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$dir/time.out"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %-9s %9s %9s %9s %9s %10s %10s\n' size setting "wall 1" "cpu 1" "wall 2" "cpu 2" "wall 2/1" "cpu 2/1"
for size in 720x480:600 1920x1080:188; do
    wh=${size%%:*}
    clip=$(telecine_clip "${wh%x*}" "${wh#*x}" "${size#*:}")
    for setting in alone encoding busy; do
        if [ "$setting" = busy ]; then
            for _ in 1 2; do sh -c 'while :; do :; done' & hogs+=($!); done
        fi
        run "$setting" 1 "$clip" >/dev/null
        run "$setting" 2 "$clip" >/dev/null
        w1=() c1=() w2=() c2=() rw=() rc=()
        for _ in $(seq 1 "$runs"); do
            read -r a b < <(run "$setting" 1 "$clip")
            read -r c d < <(run "$setting" 2 "$clip")
            w1+=("$a") c1+=("$b") w2+=("$c") c2+=("$d")
            rw+=("$(awk -v x="$c" -v y="$a" 'BEGIN { printf "%.4f", x / y }')")
            rc+=("$(awk -v x="$d" -v y="$b" 'BEGIN { printf "%.4f", x / y }')")
        done
        stop_hogs
        printf '%-10s %-9s %9s %9s %9s %9s %10s %10s\n' "$wh" "$setting" \
            "$(printf '%s\n' "${w1[@]}" | median)" "$(printf '%s\n' "${c1[@]}" | median)" \
            "$(printf '%s\n' "${w2[@]}" | median)" "$(printf '%s\n' "${c2[@]}" | median)" \
            "$(printf '%s\n' "${rw[@]}" | median)" "$(printf '%s\n' "${rc[@]}" | median)"
    done
done
