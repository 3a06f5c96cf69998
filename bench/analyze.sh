#!/usr/bin/env bash
# How right and how fast `pelta analyze` is.
#
# Accuracy: clips of every kind made by pelta_make_clip (tests/cli/make_clip.cpp)
# from two still pictures (ffmpeg's testsrc2 and a mandelbrot render, softened
# and grained), 90 frames each, at 720x480 and 480x360, 4:2:0 and 4:4:4, with
# bands of several places and widths, whole and fractional shifts, both TFF
# settings and every late-field pattern. A clip counts as right when the kind
# is, and for `window` when left and right edge are within 4 columns and the
# shift within 2 of the generator's (TFF may differ where both settings
# restore the band, which the generator's symmetric bands allow).
#
# Also one clip each made by ffmpeg's own filters: 3:2 telecine of testsrc2
# at 23.976, its 59.94p interlaced (interlace=scan=tff), and plain 29.97p.
#
# Speed: `pelta analyze` on the first 300 frames of a 720x480 clip (the demo's
# sample, 10 s) against one plain filter pass over the same frames
# (`pelta --quiet --threads 1 CLIP - > /dev/null`), median of 5 runs each.
#
# usage: bench/analyze.sh [--build DIR] [--accuracy | --speed]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build"
what=both
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=${2:?--build needs a directory}; shift 2 ;;
        --accuracy) what=accuracy; shift ;;
        --speed) what=speed; shift ;;
        -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "analyze.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
command -v ffmpeg >/dev/null || { echo "analyze.sh: ffmpeg is not installed" >&2; exit 1; }
cmake --build "$build" --target pelta pelta_make_clip >&2
pelta="$build/cli/pelta"
make_clip="$build/tests/cli/pelta_make_clip"
dir=$(mktemp -d "${TMPDIR:-/tmp}/pelta-analyze.XXXXXX")
trap 'rm -rf "$dir"' EXIT
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

accuracy() {
    ff -f lavfi -i testsrc2=s=1024x768 -frames:v 1 -vf gblur=sigma=0.6,noise=alls=6:allf=t -pix_fmt rgb24 "$dir/testsrc2.ppm"
    ff -f lavfi -i mandelbrot=s=1024x768:end_pts=1:start_scale=0.5:end_scale=0.5:maxiter=200 -frames:v 1 \
       -vf gblur=sigma=0.6,noise=alls=6:allf=t -pix_fmt rgb24 "$dir/mandelbrot.ppm"
    # kind|picture|generator arguments|left,width,shift (window kinds)
    local cases=()
    for pic in testsrc2 mandelbrot; do
        for fmt in "--size 720x480" "--size 480x360 --chroma 444"; do
            cases+=("progressive|$pic|$fmt --kind progressive|")
            cases+=("pulldown|$pic|$fmt --kind pulldown|")
            cases+=("interlaced|$pic|$fmt --kind interlaced|")
            for late in bottom top alternate; do
                cases+=("match|$pic|$fmt --kind match --late $late|")
            done
        done
        for band in "104,342 26 1 alternate" "400,200 16 0 bottom" "0,160 40 1 top" "200,96 5 1 alternate" \
                    "560,160 64 0 bottom" "32,64 11 0 top" "300,300 3 1 bottom" "120,240 90 0 alternate"; do
            read -r lw s t late <<<"$band"
            for fmt in "--size 720x480" "--size 480x360 --chroma 444"; do
                local l=${lw%,*} w=${lw#*,}
                local fw=${fmt#--size }; fw=${fw%%x*}
                [ $((l + w)) -le "$fw" ] || continue
                cases+=("window|$pic|$fmt --kind window --late $late --band $lw --shift $s --tff $t|$l,$w,$s")
            done
        done
    done
    declare -A total right
    for c in "${cases[@]}"; do
        IFS='|' read -r kind pic args want <<<"$c"
        # shellcheck disable=SC2086
        "$make_clip" --frames 90 --picture "$dir/$pic.ppm" $args > "$dir/c.y4m"
        json=$("$pelta" analyze --quiet --json "$dir/c.y4m")
        verdict=$(/usr/bin/python3 -c '
import json, sys
d = json.loads(sys.argv[1]); kind, want = sys.argv[2], sys.argv[3]
ok = d["kind"] == kind
if ok and want:
    l, w, s = map(int, want.split(","))
    ok = abs(d["left"] - l) <= 4 and abs(d["left"] + d["width"] - l - w) <= 4 and abs(d["shift"] - s) <= 2
print(("right" if ok else "WRONG") + " " + d["kind"] + " " + str(d["left"]) + "," + str(d["width"]) + " shift " +
      str(d["shift"]) + " tff " + str(d["tff"]))' "$json" "$kind" "$want")
        total[$kind]=$(( ${total[$kind]:-0} + 1 ))
        case "$verdict" in right*) right[$kind]=$(( ${right[$kind]:-0} + 1 )) ;; esac
        printf '%-10s %-72s -> %s\n' "$pic" "$args" "$verdict"
    done
    # Clips made by ffmpeg's own filters: film telecined, true interlacing
    # and plain progressive video.
    for c in "pulldown|testsrc2=s=720x480:r=24000/1001:d=6|telecine=first_field=t:pattern=23" \
             "interlaced|testsrc2=s=720x480:r=60000/1001:d=6|interlace=scan=tff" \
             "progressive|testsrc2=s=720x480:r=30000/1001:d=6|null"; do
        IFS='|' read -r kind src vf <<<"$c"
        ff -f lavfi -i "$src" -vf "$vf" -pix_fmt yuv420p -f yuv4mpegpipe "$dir/c.y4m"
        got=$("$pelta" analyze --quiet --json "$dir/c.y4m" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["kind"])')
        total[$kind]=$(( ${total[$kind]:-0} + 1 ))
        [ "$got" = "$kind" ] && right[$kind]=$(( ${right[$kind]:-0} + 1 ))
        printf '%-10s %-72s -> %s\n' ffmpeg "$src,$vf" "$([ "$got" = "$kind" ] && echo right || echo WRONG) $got"
    done
    echo
    echo "kind          right of"
    for kind in progressive pulldown interlaced match window; do
        printf '%-12s %6d %3d\n' "$kind" "${right[$kind]:-0}" "${total[$kind]:-0}"
    done
}

median5() {  # the median wall time of five runs of a command, in seconds
    local times=() t0 t1
    for _ in 1 2 3 4 5; do
        t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
        times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
    done
    printf '%s\n' "${times[@]}" | sort -g | sed -n 3p
}

speed() {
    "$repo/scripts/make_sample.sh" "$dir/sample.y4m" 10
    "$pelta" --quiet --threads 1 "$dir/sample.y4m" - >/dev/null  # warm the page cache
    local plain analysis
    plain=$(median5 "$pelta" --quiet --threads 1 "$dir/sample.y4m" -)
    analysis=$(median5 "$pelta" analyze --quiet "$dir/sample.y4m")
    printf 'plain filter pass, 300 frames 720x480: %.2f s\n' "$plain"
    printf 'pelta analyze, same 300 frames:        %.2f s (%.1f plain passes)\n' "$analysis" \
        "$(awk -v a="$analysis" -v p="$plain" 'BEGIN { print a / p }')"
}

case "$what" in
    accuracy) accuracy ;;
    speed) speed ;;
    both) accuracy; echo; speed ;;
esac
