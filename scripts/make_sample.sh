#!/bin/sh
# Generates the sample clip from ffmpeg's test sources (nothing is downloaded):
#   scripts/make_sample.sh OUTPUT.y4m [SECONDS]     (whole seconds, default 4)
# 720x480 4:2:0 Y4M, 29.97 frames a second, top field first, made from
# moving 29.97 fps pictures whose two fields do not come from the same frame:
# - Outside columns 320..639 (the filter's default processing window) the
#   bottom field is one frame late for a second, then the top field is, and
#   so on. Every moving frame is combed; the weave that repairs it is the
#   following frame in one case and the preceding one in the other, and
#   which one changes every second.
# - Inside the window a vertically scrolling picture, again with its bottom
#   field one frame late: the fields are displaced by the distance it scrolls
#   in a frame. The top field of frame 2k and the bottom field of frame 2k+1
#   belong together, which is the weave the filter rebuilds its window from.
set -eu
out=${1:?usage: make_sample.sh OUTPUT.y4m [SECONDS]}
secs=${2:-4}
rate=30000/1001
frames=$(( (secs * 30000 + 1000) / 1001 ))

# maskedmerge takes a pixel from its second input where the mask is white.
# late_bottom: the odd rows of every plane; alternate: odd rows in even
# seconds, even rows in odd seconds.
late_bottom="geq=lum='255*mod(Y,2)':cb='255*mod(Y,2)':cr='255*mod(Y,2)'"
alt="255*eq(mod(Y,2),1-mod(floor(N/30),2))"
alternate="geq=lum='$alt':cb='$alt':cr='$alt'"

ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=s=720x480:r=$rate:d=$secs" \
  -f lavfi -i "testsrc=s=480x320:r=$rate:d=$secs" \
  -f lavfi -i "color=black:s=720x480:r=$rate:d=$secs,format=yuv420p,$alternate" \
  -f lavfi -i "color=black:s=320x480:r=$rate:d=$secs,format=yuv420p,$late_bottom" \
  -filter_complex "
    [0:v]format=yuv420p,gblur=sigma=0.5:sigmaV=0.8,split[m0][m1];
    [m1]tpad=start=1:start_mode=clone[m1late];
    [m0][m1late][2:v]maskedmerge[main];
    [1:v]transpose=clock,format=yuv420p,scroll=vertical=0.01,split[b0][b1];
    [b1]tpad=start=1:start_mode=clone[b1late];
    [b0][b1late][3:v]maskedmerge[band];
    [main][band]overlay=x=320:y=0:shortest=1,setfield=tff[v]" \
  -map "[v]" -frames:v "$frames" -field_order tt -pix_fmt yuv420p -f yuv4mpegpipe "$out"
