#!/usr/bin/env bash
# What pelta does to footage that needs nothing: filters a clean progressive
# clip (ffmpeg's testsrc2, 720x480, 29.97 fps, 4:2:0, 180 frames) and
# compares every output frame with its input frame, luma PSNR by ffmpeg's
# psnr filter, over the whole frame and over columns 320..639 (the default
# processing window) and the rest separately; and scores every frame against
# the input pictures as bench/clean_frames.sh does (bench/score_frames.cpp:
# clean, combed or soft in each of the three column bands).
#
# Settings: pelta --width 0 --lpf 0 (field matching alone) and pelta with its
# defaults. pelta always replaces one field of every frame with a field of a
# neighbour, so wherever the picture moves the output is combed. With
# --lpf 1 the frames whose chosen weave reaches comb_th are low-passed;
# "low-passed" counts them from --log (comb >= comb_th).
#
# usage: bench/progressive.sh [--build DIR] [--dir DIR]
#   --build  a configured build directory with pelta and pelta_score
#            (default: build/; the two targets are built there)
#   --dir    where the clip, outputs and statistics are kept (default: a
#            temporary directory, removed afterwards)
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench_setup progressive.sh pelta pelta_score -- "$@"

ff -f lavfi -i "testsrc2=s=720x480:r=30000/1001" -frames:v 180 -pix_fmt yuv420p \
   -f yuv4mpegpipe "$dir/clean.y4m"

# mse_of OUT CROP: the luma mean squared error of every frame of OUT against
# the input, over the crop (ffmpeg crop=w:h:x:y), one a line.
mse_of() {
    ff -i "$1" -i "$dir/clean.y4m" \
       -lavfi "[0:v]crop=$2[a];[1:v]crop=$2[b];[a][b]psnr=stats_file=$dir/stats.log" -f null -
    sed -n 's/.*mse_y:\([^ ]*\).*/\1/p' "$dir/stats.log"
}

# summary: reads one MSE a line; prints how many frames fall below 30 dB PSNR,
# the lowest PSNR and the median.
summary() {
    awk '{ print ($1 > 0) ? 10 * log(255 * 255 / $1) / log(10) : 1e9 }' | sort -g |
    awk '{ v[NR] = $1; if ($1 < 30) below++ }
        END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
              printf "%d of %d below 30 dB, lowest %.1f dB, median %.1f dB", below, NR, v[1], m }'
}

echo "ffmpeg: $(ffmpeg -version | head -1)"
printf '%-26s %-12s %s\n' settings region "luma PSNR against the input"
for s in "--width 0 --lpf 0" ""; do
    label=${s:-defaults}
    # shellcheck disable=SC2086
    "$pelta" --quiet $s --log "$dir/log.csv" "$dir/clean.y4m" "$dir/out.y4m"
    mse_of "$dir/out.y4m" "720:480:0:0" > "$dir/whole.txt"
    mse_of "$dir/out.y4m" "320:480:320:0" > "$dir/window.txt"
    # Outside the window (columns 0..319 and 640..719): what the whole frame's
    # squared error leaves once the window's is taken out.
    paste "$dir/whole.txt" "$dir/window.txt" | awk '{ print ($1 * 720 - $2 * 320) / 400 }' > "$dir/rest.txt"
    lowpassed=$(awk -F, 'NR > 1 && $3 != "" && $3 + 0 >= $4 + 0 { n++ } END { print n + 0 }' "$dir/log.csv")
    printf '%-26s %-12s %s\n' "$label" "whole frame" "$(summary < "$dir/whole.txt")"
    printf '%-26s %-12s %s\n' "" "320..639" "$(summary < "$dir/window.txt")"
    printf '%-26s %-12s %s\n' "" "the rest" "$(summary < "$dir/rest.txt")"
    printf '%-26s %-12s %s\n' "" "scored" \
        "$("$score" "$dir/out.y4m" "$dir/clean.y4m" --cols 0:320 --cols 320:640 --cols 640:720)"
    if [ -n "$s" ]; then
        printf '%-26s %s\n' "" "(no low-pass)"
    else
        printf '%-26s %s\n' "" "low-passed: $lowpassed of 180 frames (comb >= comb_th in --log)"
    fi
done
