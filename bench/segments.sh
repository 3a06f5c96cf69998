#!/usr/bin/env bash
# How right `pelta analyze`'s segments are on long clips of several kinds,
# and whether `pelta --auto` makes any part of them worse.
#
# On every clip of the corpus that bench/long_captures.sh builds (built there
# first when missing), each decoded to Y4M with ffmpeg (a temporary file under
# the corpus directory):
#   file    pelta analyze --json CLIP.y4m
#   pipe    ffmpeg -i STORED -f yuv4mpegpipe - | pelta analyze --json -
#   short   pelta analyze --json on the same file cut one frame shorter
#   auto-file  pelta --auto CLIP.y4m -   (its output measured as it comes)
#   auto-pipe  ffmpeg -i STORED -f yuv4mpegpipe - | pelta --auto - -
# and judged against the clip's truth (bench/long_corpus.py judge):
# - per true stretch of 60 frames or more: right when the segment covering
#   most of it has its kind and settings (window: both edges within 8 px,
#   shift within 2 sixteenths; TFF where the truth has one) and its ends that
#   are changes of kind or settings have a reported boundary within 2 frames;
#   shares right per kind and per hardship, as a file and as a pipe;
# - every change of kind or settings: the distance to the nearest reported
#   boundary (a histogram; the shares within 2 and 3 frames);
# - per reported segment, right or wrong (its kind or settings off over most
#   of its frames, or an end more than 2 frames off a true change) against
#   its confidence: the share of wrong ones below 0.5, of right ones at 0.5
#   or above;
# - file against pipe, and file against one frame shorter (for the frames
#   kept): the same segments within 2 frames, kinds and settings;
# - --auto: per true stretch, frames that need nothing changed (they must
#   come out byte for byte), and for match and window stretches the combing
#   before, after, and with the true settings (bench/corpus.py's measure),
#   any made worse; its exit status and what it printed on standard error;
# - the clean progressive set: any segment of pelta's kinds is a false alarm;
# - the seconds of every run.
# Each clip's runs go, one JSON object a line, to --results FILE (default
# DIR/segments.jsonl); `bench/long_corpus.py score FILE [--per-clip]` prints
# the tables again.
#
# usage: bench/segments.sh [--build DIR] [--quick] [--seed N] [--jobs N] [--only REGEX]
#                          [--recheck] [--results FILE] [--no-auto] [--per-clip] [DIR]
#   DIR        the corpus (default: corpus-long beside the source tree,
#              corpus-long-seedN with --seed N)
#   --quick    the quick subset (6 clips and the clean set)
#   --jobs N   clips scored at once (default 1; times are less exact with more)
#   --recheck  check the truth of the corpus's clips again first
#              (bench/long_captures.sh --recheck)
#   --no-auto  the analysis only, without --auto (about half the time)
#   --per-clip every clip's segments and what was wrong, before the tables
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
seed=38
results=""
auto=1
per_clip=""
corpus_option() {
    case "$1" in
        --results) results=${2:?--results needs a file}; taken=2 ;;
        --no-auto) auto=""; taken=1 ;;
        --per-clip) per_clip=--per-clip; taken=1 ;;
        *) return 1 ;;
    esac
}
# shellcheck source=bench/corpus_args.sh
. "$repo/bench/corpus_args.sh"
corpus_args segments.sh "$@"
if [ -z "$dir" ]; then
    dir="$(dirname "$repo")/corpus-long"
    [ "$seed" = 38 ] || dir="$dir-seed$seed"
fi
command -v ffmpeg >/dev/null || { echo "segments.sh: ffmpeg is not installed" >&2; exit 1; }
py=/usr/bin/python3
lc="$repo/bench/long_corpus.py"
names=$("$py" "$lc" list --names $quick --seed "$seed")
[ -z "$only" ] || names=$(grep -E "$only" <<<"$names" || true)
[ -n "$names" ] || { echo "segments.sh: no clip matches" >&2; exit 1; }
missing=0
while IFS= read -r name; do
    [ -s "$dir/$name.truth.json" ] || missing=1
done <<<"$names"
if [ "$missing" = 1 ] || [ -n "$recheck" ]; then
    opts=(--build "$build" --jobs "$jobs" --seed "$seed")
    [ -z "$quick" ] || opts+=(--quick)
    [ -z "$only" ] || opts+=(--only "$only")
    [ -z "$recheck" ] || opts+=(--recheck)
    "$repo/bench/long_captures.sh" "${opts[@]}" "$dir" >&2
else
    cmake --build "$build" -j2 --target pelta >&2
fi
dir=$(cd "$dir" && pwd)
pelta="$build/cli/pelta"
[ -n "$results" ] || results="$dir/segments.jsonl"
work=$(mktemp -d "$dir/.segments.XXXXXX")
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

one() {  # score one clip: its runs in $work/NAME.*, one JSON line in $work/NAME.line
    local name=$1 stored truth clip t0 status size
    truth="$dir/$name.truth.json"
    stored=$("$py" "$lc" stored "$dir" "$name")
    clip="$work/$name.y4m"
    local decode=(ffmpeg -nostdin -hide_banner -loglevel error -i "$stored" -fps_mode passthrough -f yuv4mpegpipe -)
    "${decode[@]}" > "$clip"
    # Into a pipe, ffmpeg's complaints (a broken pipe when pelta stops
    # reading, as --auto does when it refuses) go to a file.
    decode+=(-loglevel fatal)
    t0=$(now); status=0
    "$pelta" analyze --quiet --json "$clip" > "$work/$name.file.json" 2> "$work/$name.file.err" || status=$?
    echo "$status $(since "$t0")" > "$work/$name.file.meta"
    t0=$(now); status=0
    "${decode[@]}" | "$pelta" analyze --quiet --json - > "$work/$name.pipe.json" 2> "$work/$name.pipe.err" ||
        status=$?
    echo "$status $(since "$t0")" > "$work/$name.pipe.meta"
    if [ -n "$auto" ]; then
        t0=$(now)
        set +e
        "$pelta" --auto "$clip" - 2> "$work/$name.auto-file.err" |
            "$py" "$lc" measure --input "$clip" "$truth" > "$work/$name.auto-file.measure.json"
        status=${PIPESTATUS[0]}
        echo "$status $(since "$t0")" > "$work/$name.auto-file.meta"
        t0=$(now)
        "${decode[@]}" | "$pelta" --auto - - 2> "$work/$name.auto-pipe.err" |
            "$py" "$lc" measure --input "$clip" "$truth" > "$work/$name.auto-pipe.measure.json"
        status=${PIPESTATUS[1]}
        echo "$status $(since "$t0")" > "$work/$name.auto-pipe.meta"
        set -e
    fi
    # One frame shorter: the file cut by its last frame.
    size=$("$py" "$lc" frame-size "$clip")
    truncate -s "-$size" "$clip"
    t0=$(now); status=0
    "$pelta" analyze --quiet --json "$clip" > "$work/$name.short.json" 2> "$work/$name.short.err" || status=$?
    echo "$status $(since "$t0")" > "$work/$name.short.meta"
    rm -f "$clip"
    "$py" "$lc" judge --truth "$truth" --name "$name" --work "$work" > "$work/$name.line"
    echo "segments.sh: $name done" >&2
}

start=$(now)
running=0
while IFS= read -r name; do
    if [ "$jobs" -le 1 ]; then
        one "$name"
    else
        one "$name" &
        running=$((running + 1))
        if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
    fi
done <<<"$names"
wait
while IFS= read -r name; do cat "$work/$name.line"; done <<<"$names" > "$results"
echo "corpus $dir (seed $seed): $(wc -l < "$results") clips; $("$pelta" --version 2>/dev/null | head -1 || true); $(since "$start") s"
"$py" "$lc" score $per_clip "$results"
