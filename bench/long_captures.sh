#!/usr/bin/env bash
# Builds a corpus of long capture-like clips of several kinds, with their
# truth, for scoring `pelta analyze`, `pelta --auto` and `pelta --plan` on
# programmes that change kind (bench/segments.sh).
#
# Each clip is 600 to about 2000 frames (1920x1080: 600 to 900): 4 to 6 stretches of
# 60 to 400 frames, each of one kind (progressive, pulldown, interlaced, match
# with every late-field pattern, window with bands from 40 px, shifts from
# 3/16, both band motions, both band scenes and both TFF settings, still,
# black; now and then a title: a still picture, or a slow vertical roll of
# credits), joined at any frame, odd or even, with a scene cut at the join or
# with the same picture and pan carrying on across it. Each stretch is made by
# pelta_make_clip --part (tests/cli/make_clip.cpp) as frames of a longer clip
# shared by the stretches of one scene; the joined clip's field times and
# frame pairs are its truth. Over the list, in fixed proportions: grain sigma
# 1 to 4 per field (one sigma for the whole clip), interlaced MPEG-2 (field
# DCT, as bench/captures.sh makes it) or H.264 (libx264, CRF 22 to 26,
# interlaced) round trips of the whole joined clip, 4:2:2, 1920x1080, motion
# only vertical, slow pans, scene cuts inside stretches. bench/long_corpus.py
# list prints the clips and their stretches.
#
# And the clean progressive set: ffmpeg's testsrc2 (5 s, 720x480), a pan over a
# photograph without and with grain, and progressive MPEG-2 and H.264 round
# trips of each (9 clips of 150 frames; the truth: one progressive stretch).
#
# Into DIR go, per clip, the compressed clip (the codec's own NAME.mpg or
# NAME.mp4 for round trips, a lossless FFV1 NAME.mkv for the others, checked
# to decode to the very frames encoded) and NAME.truth.json (its stretches
# with kind and settings, the joins, the per-frame field times, the recipe,
# and the check); clips.txt, their names; corpus.txt, one line a clip with its
# check. The check filters the clip with `pelta --plan` made from the truth
# (--lpf 0) under both TFF settings and, from pelta's --log and the field
# times, counts in each stretch of pelta's kinds the frames whose weave puts
# fields of two moments together; it measures the combing of each stretch
# before and after, checks that the other stretches pass through unchanged,
# and notes doubts. Clips already in DIR, made from the same recipe and
# checked, are kept. `bench/long_corpus.py decode DIR NAME` writes a clip as
# Y4M to standard output.
#
# usage: bench/long_captures.sh [--build DIR] [--quick] [--seed N] [--jobs N] [--only REGEX] [--recheck] [DIR]
#   DIR        default: corpus-long beside the source tree (/work/corpus-long),
#              corpus-long-seedN with --seed N
#   --quick    the first 6 clips (720x480, 600 to 1200 frames, every kind and
#              hardship but 1920x1080) and the clean set
#   --seed N   another draw of the same hardships (default 38, the corpus the
#              analysis is built against): clips nobody tuned on
#   --jobs N   clips made at once (default 1; the machine's 2 cores: at most 2)
#   --only R   only the clips whose names match the extended regex R
#   --recheck  check the truth of the clips already in DIR again, without
#              making them
# The full corpus (16 clips and the clean set) takes about 4 GB; the quick one
# about 1.2 GB.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
seed=38
# shellcheck source=bench/corpus_args.sh
. "$repo/bench/corpus_args.sh"
corpus_args long_captures.sh "$@"
if [ -z "$dir" ]; then
    dir="$(dirname "$repo")/corpus-long"
    [ "$seed" = 38 ] || dir="$dir-seed$seed"
fi
py=/usr/bin/python3
skimage_data=/usr/lib/python3/dist-packages/skimage/data
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
command -v ffmpeg >/dev/null || { echo "long_captures.sh: ffmpeg is not installed (scripts/deps.sh test)" >&2; exit 1; }
[ -d "$skimage_data" ] || { echo "long_captures.sh: python3-skimage is not installed (scripts/deps.sh test)" >&2; exit 1; }
"$py" -c 'import numpy' 2>/dev/null || { echo "long_captures.sh: python3-numpy is not installed (scripts/deps.sh test)" >&2; exit 1; }
[ -f "$font" ] || { echo "long_captures.sh: $font is missing (fonts-dejavu-core)" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || { echo "long_captures.sh: $build is not a configured build directory" >&2; exit 1; }
cmake --build "$build" -j2 --target pelta pelta_make_clip >&2
pelta="$build/cli/pelta"
make_clip="$build/tests/cli/pelta_make_clip"
lc="$repo/bench/long_corpus.py"
mkdir -p "$dir/pictures"
dir=$(cd "$dir" && pwd)
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

start=$(date +%s.%N)
# The pictures, as 8-bit binary PPM; the renders larger than bench/captures.sh's,
# for the longer pans.
for f in astronaut.png coffee.png chelsea.png motorcycle_left.png rocket.jpg hubble_deep_field.jpg camera.png \
         grass.png brick.png gravel.png; do
    out="$dir/pictures/${f%.*}.ppm"
    [ -s "$out" ] || ff -i "$skimage_data/$f" -frames:v 1 -pix_fmt rgb24 "$out"
done
[ -s "$dir/pictures/testsrc2.ppm" ] ||
    ff -f lavfi -i testsrc2=s=3200x2000 -frames:v 1 -pix_fmt rgb24 "$dir/pictures/testsrc2.ppm"
[ -s "$dir/pictures/mandelbrot.ppm" ] ||
    ff -f lavfi -i mandelbrot=s=3200x2000:end_pts=1:start_scale=0.5:end_scale=0.5:maxiter=200 -frames:v 1 \
       -pix_fmt rgb24 "$dir/pictures/mandelbrot.ppm"
if [ ! -s "$dir/pictures/credits.ppm" ]; then
    # A roll of credits: 70 lines of white text on a dark ground, 1024x3600.
    "$py" - "$dir/pictures/credits.txt" <<'EOF'
import random, sys
r = random.Random(3)
jobs = "director producer camera sound editor music lighting grip gaffer script costume makeup casting design " \
       "assistant second unit location manager".split()
names = "Aiko Baba Chen Dupont Eriksen Fujita Garcia Haddad Ito Jensen Kato Laurent Mori Nakamura Okafor Petrov " \
        "Quinn Rossi Sato Tanaka Ueda Vargas Wang Yamada".split()
lines = []
for i in range(60):
    lines.append("%s %s    %s %s" % (r.choice(jobs).title(), r.choice(jobs), r.choice(names), r.choice(names)))
    if i % 7 == 6:
        lines.append("")
open(sys.argv[1], "w").write("\n".join(lines))
EOF
    ff -f lavfi -i color=c=0x101820:s=1024x3600 \
       -vf "drawtext=fontfile=$font:textfile=$dir/pictures/credits.txt:fontsize=34:fontcolor=white:line_spacing=22:x=(w-text_w)/2:y=60" \
       -frames:v 1 -pix_fmt rgb24 "$dir/pictures/credits.ppm"
fi

list=$("$py" "$lc" list --names $quick --seed "$seed")
printf '%s\n' "$list" > "$dir/clips.txt"
[ -z "$only" ] || list=$(grep -E "$only" <<<"$list" || true)
# Clips that the whole list no longer holds go.
all_names=$("$py" "$lc" list --names --seed "$seed")
for f in "$dir"/*.truth.json; do
    [ -e "$f" ] || continue
    name=$(basename "$f" .truth.json)
    grep -qxF "$name" <<<"$all_names" || rm -f "$dir/$name".*
done
rm -rf "$dir"/.work-*
running=0
failed=0
one() {
    if [ -n "$recheck" ]; then
        "$py" "$lc" recheck --pelta "$pelta" "$1" "$dir"
    else
        "$py" "$lc" make --pelta "$pelta" --make-clip "$make_clip" --pictures "$dir/pictures" --seed "$seed" "$1" "$dir"
    fi
}
while IFS= read -r name; do
    [ -n "$name" ] || continue
    if [ "$jobs" -le 1 ]; then
        one "$name" || failed=$((failed + 1))
    else
        one "$name" &
        running=$((running + 1))
        if [ "$running" -ge "$jobs" ]; then wait -n || failed=$((failed + 1)); running=$((running - 1)); fi
    fi
done <<<"$list"
while [ "$running" -gt 0 ]; do wait -n || failed=$((failed + 1)); running=$((running - 1)); done
# corpus.txt: every clip's check, from its truth.
"$py" - "$dir" "$repo/bench" <<'EOF' > "$dir/corpus.txt"
import json, os, sys
d = sys.argv[1]
sys.path.insert(0, sys.argv[2])
import long_corpus
for name in open(os.path.join(d, "clips.txt")).read().split():
    p = os.path.join(d, name + ".truth.json")
    if os.path.exists(p):
        print(long_corpus.check_line(json.load(open(p))))
EOF
end=$(date +%s.%N)
printf 'long_captures.sh: %s clips in %.0f s, %d failed; %s (%s)\n' "$(grep -c . <<<"$list")" \
    "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$failed" "$dir" "$(du -sh "$dir" | cut -f1)" >&2
[ "$failed" = 0 ]
