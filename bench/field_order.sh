#!/usr/bin/env bash
# What the TFF check box (--tff) selects, against the source's field order:
# makes 3:2 pulldown from 192 pictures of ffmpeg's testsrc2 (720x480, 240
# frames at 29.97, 2 in every 5 combed), once bottom field first (tagged Ib)
# and once top field first (tagged It), filters each with --tff 0 and 1
# (default window, --lpf 0 so that the weaves themselves show), and counts
# the combed frames inside the window (columns 320..639) and outside it,
# each scored against the 192 pictures by bench/score_frames.cpp (a region
# is combed when a weave of two different pictures is closer to it than any
# one picture). ffmpeg's fieldmatch is scored on the same clips for
# comparison.
#
# usage: bench/field_order.sh [--build DIR] [--dir DIR]
#   --build  a configured build directory with pelta and pelta_score
#            (default: build/; the two targets are built there)
#   --dir    where the clips are kept (default: a temporary directory,
#            removed afterwards)
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench_setup field_order.sh pelta pelta_score -- "$@"

ff -f lavfi -i "testsrc2=s=720x480:r=24000/1001" -frames:v 192 -pix_fmt yuv420p -f yuv4mpegpipe "$dir/src.y4m"
ff -i "$dir/src.y4m" -vf telecine=first_field=b,setfield=bff -f yuv4mpegpipe "$dir/bff.y4m"
ff -i "$dir/src.y4m" -vf telecine=first_field=t,setfield=tff -f yuv4mpegpipe "$dir/tff.y4m"

combed() {  # combed OUT COLS...: the number of combed frames in those columns
    local out=$1; shift
    "$score" "$out" "$dir/src.y4m" "$@" | sed -n 's/.* combed \([0-9]*\) .*/\1/p'
}

echo "ffmpeg: $(ffmpeg -version | head -1)"
printf '%-26s %-22s %-18s %s\n' source filter "combed in window" "combed outside"
for order in bff tff; do
    tag=$(head -c 200 "$dir/$order.y4m" | head -1 | grep -o ' I[a-z]' | tr -d ' ')
    for f in "--tff 0" "--tff 1" fieldmatch; do
        if [ "$f" = fieldmatch ]; then
            ff -i "$dir/$order.y4m" -vf fieldmatch -f yuv4mpegpipe "$dir/out.y4m"
            label="ffmpeg fieldmatch"
        else
            # shellcheck disable=SC2086
            "$pelta" --quiet --lpf 0 $f "$dir/$order.y4m" "$dir/out.y4m"
            label="pelta --lpf 0 $f"
        fi
        printf '%-26s %-22s %-18s %s\n' "$order ($tag)" "$label" \
            "$(combed "$dir/out.y4m" --cols 320:640) of 240" \
            "$(combed "$dir/out.y4m" --cols 0:320 --cols 640:720) of 240"
    done
done
