#!/usr/bin/env bash
# Builds a corpus of capture-like clips of every kind, with their truth, for
# scoring `pelta analyze` (bench/analyze.sh).
#
# Each clip is made by pelta_make_clip (tests/cli/make_clip.cpp) from a still
# picture panned across the frame: photographs from python3-skimage's sample
# data and ffmpeg's testsrc2 and mandelbrot renders. It carries what real
# captures carry, in fixed, seeded combinations (bench/corpus.py list): grain
# (sigma 0 to 3 on 8-bit luma, fresh in every field), softness, pans of 0.5 to
# 4 pixels a frame and slow zooms, scene cuts, still and black stretches, bands
# from 40 px wide and shifts from 3/16, both TFF settings and every late-field
# pattern, 720x480, 480x360, 1280x720 and 1920x1080, 4:2:0 and 4:2:2; and
# lossy interlaced round trips through ffmpeg's own encoders:
#   mpeg2  -c:v mpeg2video -flags +ildct+ilme -top 1 (field DCT, as a DVD
#          recorder or capture card stores it), 3 to 8 Mbit/s at 720x480,
#          proportionally more at other sizes (15 to 25 at 1920x1080)
#   h264   -c:v libx264 -flags +ildct+ilme -x264-params interlaced=1:tff=1, CRF 20 to 28
# decoded back to Y4M without any chroma conversion (4:2:0 stays 4:2:0, 4:2:2
# stays 4:2:2). 4:2:0 clips are made with interlaced chroma (each chroma row
# from one field). "trap" clips are 4:2:2 converted as a new user does it,
# with -pix_fmt yuv420p (a progressive chroma conversion that mixes the
# fields' colour); their truth says so (chroma_trap).
#
# Into DIR go NAME.y4m and NAME.truth.json for each clip (the truth: kind,
# tff, left, width, shift, the hardships, every field's source time, the
# commands that made it, and a check), and corpus.txt, one line a clip with
# the check. The check runs pelta --lpf 0 on the clip with the true settings
# under both TFF settings and from its log finds the frames whose weave puts
# fields of two moments together (where the generator leaves the TFF open,
# a setting that restores clearly more frames becomes the truth); it also
# measures the residual combing (band/rest) of the input, of both, and of
# field matching alone. Clips already in DIR with a checked truth are kept.
#
# usage: bench/captures.sh [--build DIR] [--quick] [--seed N] [--jobs N] [--only REGEX] [--recheck] DIR
#   --quick    the 16-clip subset (every kind and hardship), for CI-sized runs
#   --seed N   other combinations of the same hardships (default 29, the
#              corpus the analysis was built against): clips it never saw
#   --jobs N   clips made at once (default 1)
#   --only R   only the clips whose names match the extended regex R
#   --recheck  check the truth of the clips already in DIR again (after a
#              change of the filter or of the check), without making them
# The full corpus (72 clips) takes about 6.5 GB, the quick one about 1 GB.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
seed=29
# shellcheck source=bench/corpus_args.sh
. "$repo/bench/corpus_args.sh"
corpus_args captures.sh "$@"
[ -n "$dir" ] || { echo "captures.sh: give the corpus directory (see --help)" >&2; exit 2; }
py=/usr/bin/python3
skimage_data=/usr/lib/python3/dist-packages/skimage/data
command -v ffmpeg >/dev/null || { echo "captures.sh: ffmpeg is not installed (scripts/deps.sh test)" >&2; exit 1; }
[ -d "$skimage_data" ] || { echo "captures.sh: python3-skimage is not installed (scripts/deps.sh test)" >&2; exit 1; }
"$py" -c 'import numpy' 2>/dev/null || { echo "captures.sh: python3-numpy is not installed (scripts/deps.sh test)" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || { echo "captures.sh: $build is not a configured build directory" >&2; exit 1; }
cmake --build "$build" --target pelta pelta_make_clip >&2
pelta="$build/cli/pelta"
make_clip="$build/tests/cli/pelta_make_clip"
corpus_py="$repo/bench/corpus.py"
mkdir -p "$dir/pictures"
dir=$(cd "$dir" && pwd)
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

start=$(date +%s.%N)
# The pictures, as 8-bit binary PPM.
for f in astronaut.png coffee.png chelsea.png motorcycle_left.png rocket.jpg hubble_deep_field.jpg camera.png \
         grass.png brick.png gravel.png; do
    out="$dir/pictures/${f%.*}.ppm"
    [ -s "$out" ] || ff -i "$skimage_data/$f" -frames:v 1 -pix_fmt rgb24 "$out"
done
[ -s "$dir/pictures/testsrc2.ppm" ] ||
    ff -f lavfi -i testsrc2=s=2048x1280 -frames:v 1 -pix_fmt rgb24 "$dir/pictures/testsrc2.ppm"
[ -s "$dir/pictures/mandelbrot.ppm" ] ||
    ff -f lavfi -i mandelbrot=s=2048x1280:end_pts=1:start_scale=0.5:end_scale=0.5:maxiter=200 -frames:v 1 \
       -pix_fmt rgb24 "$dir/pictures/mandelbrot.ppm"

# One clip: NAME|KIND|PICTURE|PICTURE2|GENERATOR ARGS|CODEC:PARAM:CHROMA|TAGS
make_one() {
    local name kind picture picture2 args codec_spec tags
    IFS='|' read -r name kind picture picture2 args codec_spec tags <<<"$1"
    local codec param chroma
    IFS=: read -r codec param chroma <<<"$codec_spec"
    local tmp="$dir/.work-$name" t0 t1
    t0=$(date +%s.%N)
    rm -rf "$tmp"
    mkdir -p "$tmp"
    local gen=(--picture "$dir/pictures/$picture.ppm")
    [ -z "$picture2" ] || gen+=(--picture2 "$dir/pictures/$picture2.ppm")
    # shellcheck disable=SC2086
    "$make_clip" $args "${gen[@]}" --truth "$tmp/truth.json" > "$tmp/src.y4m"
    local recipe="pelta_make_clip $args --picture $picture.ppm${picture2:+ --picture2 $picture2.ppm}"
    local pixfmt=yuv420p decode=()
    [ "$chroma" = 420 ] || pixfmt=yuv422p
    [ "$chroma" != trap ] || decode=(-pix_fmt yuv420p)
    local enc=()
    case "$codec" in
        none) ;;
        mpeg2)
            local maxrate bufsize
            maxrate=$(awk -v r="$param" 'BEGIN { m = 2 * r; if (r <= 10 && m > 9.8) m = 9.8; if (r > 10) m = 1.5 * r; print m }')
            bufsize=$(awk -v r="$param" 'BEGIN { print (r <= 10 ? "1835k" : "9781k") }')
            enc=(-c:v mpeg2video -pix_fmt "$pixfmt" -flags +ildct+ilme -top 1 -b:v "${param}M" -maxrate "${maxrate}M"
                 -bufsize "$bufsize" -g 15 -bf 2 "$tmp/enc.mpg") ;;
        h264)
            enc=(-c:v libx264 -pix_fmt "$pixfmt" -preset fast -crf "$param" -flags +ildct+ilme
                 -x264-params interlaced=1:tff=1 "$tmp/enc.mp4") ;;
        *) echo "captures.sh: unknown codec $codec" >&2; return 1 ;;
    esac
    if [ ${#enc[@]} -gt 0 ]; then
        ff -i "$tmp/src.y4m" "${enc[@]}"
        ff -i "${enc[-1]}" -f yuv4mpegpipe "${decode[@]}" "$dir/$name.y4m"
        recipe+=" | ffmpeg -i - ${enc[*]} && ffmpeg -i ${enc[-1]} -f yuv4mpegpipe ${decode[*]} $name.y4m"
    elif [ ${#decode[@]} -gt 0 ]; then
        ff -i "$tmp/src.y4m" -f yuv4mpegpipe "${decode[@]}" "$dir/$name.y4m"
        recipe+=" | ffmpeg -i - -f yuv4mpegpipe ${decode[*]} $name.y4m"
    else
        mv "$tmp/src.y4m" "$dir/$name.y4m"
    fi
    recipe=${recipe//"$tmp/"/}
    cp "$tmp/truth.json" "$dir/$name.truth.json"
    local codec_text=$codec
    [ "$codec" = none ] || codec_text="$codec $param"
    "$py" "$corpus_py" check --pelta "$pelta" --codec "$codec_text" --recipe "$recipe" --tags "$tags" \
        --line "$1" ${decode:+--trap} "$dir/$name.y4m" "$dir/$name.truth.json" > "$tmp/check.txt"
    t1=$(date +%s.%N)
    printf '%s  (%.1f s)\n' "$(cat "$tmp/check.txt")" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')"
    rm -rf "$tmp"
}

list=$("$py" "$corpus_py" list $quick --seed "$seed")
[ -z "$only" ] || list=$(grep -E "^[^|]*($only)" <<<"$list" || true)
printf '%s\n' "$list" | cut -d'|' -f1 > "$dir/clips.txt"
# Clips of an earlier list that the whole list no longer holds go.
all_names=$("$py" "$corpus_py" list --seed "$seed" | cut -d'|' -f1)
for f in "$dir"/[0-9][0-9]-*.truth.json; do
    [ -e "$f" ] || continue
    name=$(basename "$f" .truth.json)
    grep -qxF "$name" <<<"$all_names" || rm -f "$dir/$name.y4m" "$f"
done
made=0 kept=0
running=0
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=${line%%|*}
    # A clip is kept when its truth is checked and it was made from the same line.
    if [ -s "$dir/$name.y4m" ] && "$py" -c 'import json, sys
t = json.load(open(sys.argv[1]))
sys.exit("check" not in t or t.get("corpus_line") != sys.argv[2])' "$dir/$name.truth.json" "$line" 2>/dev/null; then
        kept=$((kept + 1))
        if [ -n "$recheck" ]; then
            tags=${line##*|}
            trap_opt=()
            case "$(cut -d'|' -f6 <<<"$line")" in *:trap) trap_opt=(--trap) ;; esac
            "$py" "$corpus_py" check --pelta "$pelta" --tags "$tags" "${trap_opt[@]}" \
                "$dir/$name.y4m" "$dir/$name.truth.json"
        fi
        continue
    fi
    made=$((made + 1))
    if [ "$jobs" -le 1 ]; then
        make_one "$line"
    else
        make_one "$line" &
        running=$((running + 1))
        if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
    fi
done <<<"$list"
wait
# corpus.txt: every clip's check, from its truth.
"$py" - "$dir" <<'EOF' > "$dir/corpus.txt"
import json, os, sys
d = sys.argv[1]
for name in open(os.path.join(d, "clips.txt")).read().split():
    t = json.load(open(os.path.join(d, name + ".truth.json")))
    c = t["check"]
    def f(x):
        return ("%.2f/%.2f" % (x["band"], x["rest"])) if x.get("band") is not None else "%.2f" % x["rest"]
    s = "%-80s tff %-4s input %s" % (name, t["tff"], f(c["input"]))
    for k in ("tff0", "tff1"):
        if k in c:
            s += " | %s %s mismatched %d" % (k, f(c[k]), c[k]["mismatched_frames"])
    if "matching_alone" in c:
        s += " | matching alone %s" % f(c["matching_alone"])
    if c.get("doubts"):
        s += " | DOUBT: " + "; ".join(c["doubts"])
    print(s)
EOF
end=$(date +%s.%N)
printf 'captures.sh: %d clips made, %d kept, in %.0f s; %s (%s)\n' "$made" "$kept" \
    "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "$dir" "$(du -sh "$dir" | cut -f1)" >&2
