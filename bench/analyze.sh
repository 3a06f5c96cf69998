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
# (`pelta --quiet --threads 1 CLIP - > /dev/null`): the first 300 frames of
# the demo's sample (720x480), median of 5 runs each, and 300 frames of a
# 1920x1080 window clip from pelta_make_clip, median of 3.
#
# usage: bench/analyze.sh [--build DIR] [--corpus DIR] [--quick] [--seed N] [--only REGEX]
#                         [--jobs N] [--results FILE] [--accuracy | --speed]
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
    "$repo/scripts/make_sample.sh" "$dir/sample.y4m" 10
    ff -f lavfi -i testsrc2=s=2048x1280 -frames:v 1 -pix_fmt rgb24 "$dir/testsrc2.ppm"
    "$make_clip" --kind window --size 1920x1080 --frames 300 --picture "$dir/testsrc2.ppm" --pan 2,0.5 \
        --band 640,480 --shift 24 --late alternate --grain 1 > "$dir/hd.y4m"
    local clip runs label plain analysis
    for clip in sample hd; do
        if [ "$clip" = sample ]; then runs=5 label="300 frames 720x480 (the demo's sample)"
        else runs=3 label="300 frames 1920x1080 (a window clip)"; fi
        "$pelta" --quiet --threads 1 "$dir/$clip.y4m" - >/dev/null  # warm the page cache
        plain=$(median "$runs" "$pelta" --quiet --threads 1 "$dir/$clip.y4m" -)
        analysis=$(median "$runs" "$pelta" analyze --quiet "$dir/$clip.y4m")
        printf '%s, median of %d runs:\n' "$label" "$runs"
        printf '  plain filter pass: %6.2f s\n' "$plain"
        printf '  pelta analyze:     %6.2f s (%.1f plain passes)\n' "$analysis" \
            "$(awk -v a="$analysis" -v p="$plain" 'BEGIN { print a / p }')"
    done
}

case "$what" in
    accuracy) accuracy ;;
    speed) speed ;;
    both) accuracy; echo; speed ;;
esac
