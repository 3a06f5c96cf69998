#!/usr/bin/env bash
# What pelta repairs and what it does not: builds two clips with ffmpeg from
# progressive pictures it keeps, runs three field matchers over each, and
# counts the output frames that are clean, combed or soft against those
# pictures (bench/score_frames.cpp, luma, 40 dB).
#
#   film  ordinary film: a 24p pan over a still picture (4 s, 96 pictures),
#         3:2 pulldown by ffmpeg (telecine=first_field=t:pattern=23), 120
#         frames at 29.97, top field first.
#   steps the footage pelta is built for (as scripts/make_sample.sh): 29.97
#         pictures whose fields are out of step (outside columns 320..639 the
#         bottom field is one frame late for a second, then the top field,
#         and so on), and in columns 320..639, pelta's default window, a
#         vertically scrolling band whose bottom field is one frame late
#         throughout. 120 frames.
# Each frame is scored in three column bands, left of, inside and right of
# columns 320..639 (pelta's default window), each against the pictures on
# its own; a frame is clean when all three are, combed when any is.
#
# Matchers: pelta with its defaults; pelta --lpf 0 (no low-pass); pelta
# --width 0 --lpf 0 (field matching alone, no window, no low-pass); pelta
# --tff 0 (the TFF check box off, on top-field-first clips); ffmpeg's
# fieldmatch with its defaults.
# "pictures" counts the different source pictures among the clean frames.
#
# usage: bench/clean_frames.sh [--build DIR] [--dir DIR]
#   --build  a configured build directory with pelta and pelta_score
#            (default: build/; the two targets are built there)
#   --dir    where the clips and per-frame CSV files are kept (default: a
#            temporary directory, removed afterwards)
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench_setup clean_frames.sh pelta pelta_score -- "$@"

# --- film: a pan over a still picture, then 3:2 pulldown -------------------
# The still: ffmpeg's test picture, 1440 wide, softened a little as a camera
# would; the pan moves 3 pixels a picture across it.
ff -f lavfi -i "testsrc2=s=1440x480" -frames:v 1 "$dir/still.png"
ff -loop 1 -framerate 24000/1001 -i "$dir/still.png" \
   -vf "gblur=sigma=0.6,crop=720:480:x='3*n':y=0,format=yuv420p" \
   -frames:v 96 -f yuv4mpegpipe "$dir/film_src.y4m"
ff -i "$dir/film_src.y4m" -vf "telecine=first_field=t:pattern=23" -field_order tt \
   -f yuv4mpegpipe "$dir/film.y4m"

# --- steps: fields out of step, and a band with displaced fields -----------
rate=30000/1001
late_bottom="geq=lum='255*mod(Y,2)':cb='255*mod(Y,2)':cr='255*mod(Y,2)'"
alt="255*eq(mod(Y,2),1-mod(floor(N/30),2))"
alternate="geq=lum='$alt':cb='$alt':cr='$alt'"
ff -f lavfi -i "testsrc2=s=720x480:r=$rate:d=4" \
   -f lavfi -i "testsrc=s=480x320:r=$rate:d=4" \
   -f lavfi -i "color=black:s=720x480:r=$rate:d=4,format=yuv420p,$alternate" \
   -f lavfi -i "color=black:s=320x480:r=$rate:d=4,format=yuv420p,$late_bottom" \
   -filter_complex "
     [0:v]format=yuv420p,gblur=sigma=0.5:sigmaV=0.8,split=3[m0][m1][mref];
     [m1]tpad=start=1:start_mode=clone[m1late];
     [m0][m1late][2:v]maskedmerge[main];
     [1:v]transpose=clock,format=yuv420p,scroll=vertical=0.01,split=3[b0][b1][bref];
     [b1]tpad=start=1:start_mode=clone[b1late];
     [b0][b1late][3:v]maskedmerge[band];
     [main][band]overlay=x=320:y=0:shortest=1,setfield=tff[v];
     [mref][bref]overlay=x=320:y=0:shortest=1[ref]" \
   -map "[v]" -frames:v 120 -field_order tt -pix_fmt yuv420p -f yuv4mpegpipe "$dir/steps.y4m" \
   -map "[ref]" -frames:v 120 -pix_fmt yuv420p -f yuv4mpegpipe "$dir/steps_src.y4m"

run() {  # run CLIP: filters $dir/CLIP.y4m with each matcher into $dir/CLIP.MATCHER.y4m
    local clip=$1
    "$pelta" --quiet "$dir/$clip.y4m" "$dir/$clip.pelta.y4m"
    "$pelta" --quiet --lpf 0 "$dir/$clip.y4m" "$dir/$clip.pelta-nolpf.y4m"
    "$pelta" --quiet --width 0 --lpf 0 "$dir/$clip.y4m" "$dir/$clip.pelta-match.y4m"
    "$pelta" --quiet --tff 0 "$dir/$clip.y4m" "$dir/$clip.pelta-tff0.y4m"
    ff -i "$dir/$clip.y4m" -vf fieldmatch -f yuv4mpegpipe "$dir/$clip.fieldmatch.y4m"
}
run film
run steps

echo "ffmpeg: $(ffmpeg -version | head -1)"
printf '%-8s %-28s %s\n' clip matcher result
for clip in film steps; do
    for m in input pelta pelta-nolpf pelta-match pelta-tff0 fieldmatch; do
        f="$dir/$clip.$m.y4m"
        [ "$m" = input ] && f="$dir/$clip.y4m"
        case $m in
            input) label="(unfiltered input)" ;;
            pelta) label="pelta (defaults)" ;;
            pelta-nolpf) label="pelta --lpf 0" ;;
            pelta-match) label="pelta --width 0 --lpf 0" ;;
            pelta-tff0) label="pelta --tff 0" ;;
            fieldmatch) label="ffmpeg fieldmatch" ;;
        esac
        printf '%-8s %-28s %s\n' "$clip" "$label" \
            "$("$score" "$f" "$dir/${clip}_src.y4m" --cols 0:320 --cols 320:640 --cols 640:720 \
                --csv "$dir/$clip.$m.csv")"
    done
done
