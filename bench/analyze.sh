#!/usr/bin/env bash
# How right and how fast `pelta analyze` is.
#
# Accuracy: `pelta analyze --json` on every clip of the capture-like corpus
# that bench/captures.sh builds (kept in --corpus DIR, default build/captures
# or build/captures-quick with --quick, and built there first when missing),
# judged against each clip's truth (NAME.truth.json). A clip is right when the
# kind is; for `window` when both edges are within 8 px and the shift within 2
# sixteenths of the truth; and for `match` and `window` when the TFF is the
# truth's, where the truth has one (null where both settings restore it).
# Prints one line per clip (name with its hardships, truth, what the analysis
# said, right or WRONG with the reason, confidence), then the share right per
# kind and per hardship, how many were wrong with confidence 0.5 or more
# ("sure & wrong", the worst outcome) and how many were wrong by the TFF
# alone, and how many chroma-trap clips got a confidence below 0.5. Each
# clip's judgement goes, one JSON object a line, to --results FILE (default
# DIR/results.jsonl); `bench/corpus.py score FILE` prints the tables again.
#
# Speed: `pelta analyze` against one plain filter pass over the same frames
# (`pelta --quiet --threads 1 CLIP - > /dev/null`): 600 frames of the demo's
# sample (720x480, 20 s), median of 5 runs each, and 300 frames of a
# 1920x1080 window clip from pelta_make_clip, median of 3; then
# `pelta analyze` alone on a long 720x480 4:2:0 file, the sample repeated for
# --minutes M (default 20; an hour takes 56 GB of disk), once with the file
# in the page cache and once out of it (as far as the machine lets us drop
# it), with its peak memory.
#
# usage: bench/analyze.sh [--build DIR] [--corpus DIR] [--quick] [--seed N] [--only REGEX]
#                         [--jobs N] [--results FILE] [--accuracy | --speed] [--minutes M]
#   --seed N   the corpus drawn with another seed (default 29, the one the
#              analysis was built against), in build/captures-seedN
#   --only R   only the clips whose names match the extended regex R
#   --jobs N   clips analysed at once (default 1; times are then less exact)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build"
what=both
corpus=""
quick=""
only=""
jobs=1
seed=29
results=""
minutes=20
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=${2:?--build needs a directory}; shift 2 ;;
        --corpus) corpus=${2:?--corpus needs a directory}; shift 2 ;;
        --quick) quick=--quick; shift ;;
        --seed) seed=${2:?--seed needs a number}; shift 2 ;;
        --only) only=${2:?--only needs a regex}; shift 2 ;;
        --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
        --results) results=${2:?--results needs a file}; shift 2 ;;
        --accuracy) what=accuracy; shift ;;
        --speed) what=speed; shift ;;
        --minutes) minutes=${2:?--minutes needs a number}; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "analyze.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
command -v ffmpeg >/dev/null || { echo "analyze.sh: ffmpeg is not installed" >&2; exit 1; }
cmake --build "$build" --target pelta pelta_make_clip >&2
pelta="$build/cli/pelta"
make_clip="$build/tests/cli/pelta_make_clip"
py=/usr/bin/python3
corpus_py="$repo/bench/corpus.py"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tmpdirs=()
trap 'rm -rf "${tmpdirs[@]}"' EXIT
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

accuracy() {
    local suffix=""
    [ "$seed" = 29 ] || suffix="-seed$seed"
    [ -n "$corpus" ] || corpus="$build/captures${quick:+-quick}$suffix"
    local list=() name
    if [ ! -s "$corpus/clips.txt" ]; then
        local opts=(--build "$build" --jobs "$jobs")
        [ -z "$quick" ] || opts+=(--quick)
        [ "$seed" = 29 ] || opts+=(--seed "$seed")
        [ -z "$only" ] || opts+=(--only "$only")
        "$repo/bench/captures.sh" "${opts[@]}" "$corpus" >&2
    fi
    while IFS= read -r name; do
        [ -n "$name" ] || continue
        if [ -n "$only" ] && ! grep -qE "$only" <<<"$name"; then continue; fi
        [ -s "$corpus/$name.y4m" ] || { echo "analyze.sh: $corpus/$name.y4m is missing (bench/captures.sh builds it)" >&2; exit 1; }
        list+=("$name")
    done < "$corpus/clips.txt"
    [ -n "$results" ] || results="$corpus/results.jsonl"
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/pelta-analyze.XXXXXX")
    tmpdirs+=("$work")
    one() {  # analyse and judge one clip: one JSON line in $work/NAME.line
        local name=$1 t0 t1 status=0
        t0=$(date +%s.%N)
        "$pelta" analyze --quiet --json "$corpus/$name.y4m" > "$work/$name.json" 2> "$work/$name.err" || status=$?
        t1=$(date +%s.%N)
        local error=()
        [ "$status" = 0 ] || error=(--error "status $status: $(head -c 200 "$work/$name.err")")
        "$py" "$corpus_py" judge --seconds "$(seconds "$t0" "$t1")" "${error[@]}" \
            "$corpus/$name.truth.json" "$work/$name.json" > "$work/$name.line"
    }
    local running=0
    for name in "${list[@]}"; do
        if [ "$jobs" -le 1 ]; then
            one "$name"
        else
            one "$name" &
            running=$((running + 1))
            if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
        fi
    done
    wait
    for name in "${list[@]}"; do cat "$work/$name.line"; done > "$results"
    echo "corpus $corpus: ${#list[@]} clips; $("$pelta" --version 2>/dev/null | head -1 || true)"
    "$py" "$corpus_py" score "$results"
}

median() {  # the median wall time of N runs of a command, in seconds
    local runs=$1 times=() t0 t1
    shift
    for _ in $(seq "$runs"); do
        t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
        times+=("$(seconds "$t0" "$t1")")
    done
    printf '%s\n' "${times[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p"
}

speed() {
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/pelta-analyze-speed.XXXXXX")
    tmpdirs+=("$dir")
    "$repo/scripts/make_sample.sh" "$dir/sample.y4m" 20
    ff -f lavfi -i testsrc2=s=2048x1280 -frames:v 1 -pix_fmt rgb24 "$dir/testsrc2.ppm"
    "$make_clip" --kind window --size 1920x1080 --frames 300 --picture "$dir/testsrc2.ppm" --pan 2,0.5 \
        --band 640,480 --shift 24 --late alternate --grain 1 > "$dir/hd.y4m"
    local clip runs label plain analysis
    for clip in sample hd; do
        if [ "$clip" = sample ]; then runs=5 label="600 frames 720x480 (the demo's sample)"
        else runs=3 label="300 frames 1920x1080 (a window clip)"; fi
        "$pelta" --quiet --threads 1 "$dir/$clip.y4m" - >/dev/null  # warm the page cache
        plain=$(median "$runs" "$pelta" --quiet --threads 1 "$dir/$clip.y4m" -)
        analysis=$(median "$runs" "$pelta" analyze --quiet "$dir/$clip.y4m")
        printf '%s, median of %d runs:\n' "$label" "$runs"
        printf '  plain filter pass: %6.2f s\n' "$plain"
        printf '  pelta analyze:     %6.2f s (%.1f plain passes)\n' "$analysis" \
            "$(awk -v a="$analysis" -v p="$plain" 'BEGIN { print a / p }')"
    done
    long_file "$dir"
}

# The sample repeated into one long file (its header once, then its frames
# again and again), analysed whole.
long_file() {
    local dir=$1 frames header body t0 t1 rss
    frames=$(( minutes * 60 * 30000 / 1001 ))
    header=$(head -n 1 "$dir/sample.y4m" | wc -c)
    tail -c +"$((header + 1))" "$dir/sample.y4m" > "$dir/body"
    body=$(stat -c %s "$dir/body")
    local per=$((body / 600)) reps=$(( (frames + 599) / 600 ))
    head -n 1 "$dir/sample.y4m" > "$dir/long.y4m"
    for _ in $(seq "$reps"); do cat "$dir/body" >> "$dir/long.y4m"; done
    truncate -s "$((header + frames * per))" "$dir/long.y4m"
    rm -f "$dir/body"
    printf '%s minutes of 720x480 4:2:0 (%d frames, %s):\n' "$minutes" "$frames" "$(du -h "$dir/long.y4m" | cut -f1)"
    for cache in warm cold; do
        if [ "$cache" = cold ]; then
            sync; { echo 1 > /proc/sys/vm/drop_caches; } 2>/dev/null || cache="cold (could not drop the page cache)"
        fi
        t0=$(date +%s.%N)
        # Peak memory from GNU time (Debian `time`) where it is installed.
        echo 0 > "$dir/rss"
        if [ -x /usr/bin/time ]; then
            /usr/bin/time -o "$dir/rss" -f '%M' "$pelta" analyze --quiet "$dir/long.y4m" >/dev/null 2>&1 || true
        else
            "$pelta" analyze --quiet "$dir/long.y4m" >/dev/null 2>&1 || true
        fi
        rss=$(tail -n 1 "$dir/rss")
        t1=$(date +%s.%N)
        printf '  pelta analyze, %s: %6.2f s, peak %s MB\n' "$cache" "$(seconds "$t0" "$t1")" "$((rss / 1024))"
    done
    rm -f "$dir/long.y4m"
}

case "$what" in
    accuracy) accuracy ;;
    speed) speed ;;
    both) accuracy; echo; speed ;;
esac
