#!/bin/sh
# The main job on a fresh Debian 12 machine: installs what is missing, builds
# pelta, makes the sample clip from ffmpeg's test sources, filters it with the
# default settings and renders a before/after picture.
#   scripts/demo.sh [OUTDIR]      (default: out/ in the source tree)
# The build goes to build/ (or $PELTA_BUILD_DIR).
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh demo

build=${PELTA_BUILD_DIR:-build}
out=${1:-out}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target pelta -j "$(nproc 2>/dev/null || echo 2)"

mkdir -p "$out"
echo "demo: making the sample clip" >&2
scripts/make_sample.sh "$out/sample.y4m" 4

echo "demo: filtering" >&2
"$build/cli/pelta" --log "$out/decisions.csv" "$out/sample.y4m" "$out/filtered.y4m"

# Three frames, the input above and the filtered frames below: frame 20 (the
# bottom field late), 44 (the top field late) and 75 (bottom late again).
echo "demo: rendering the before/after strip" >&2
pick="select='eq(n\,20)+eq(n\,44)+eq(n\,75)',tile=3x1"
ffmpeg -hide_banner -loglevel error -y -i "$out/sample.y4m" -i "$out/filtered.y4m" \
  -filter_complex "[0:v]$pick[before];[1:v]$pick[after];[before][after]vstack" \
  -frames:v 1 -update 1 "$out/before-after.png"

# The output folder as it would be typed into a shell.
case $out in
  *[!A-Za-z0-9_./-]*) out_q="'$(printf '%s' "$out" | sed "s/'/'\\\\''/g")'" ;;
  *) out_q=$out ;;
esac
cat <<EOT

Done. In $out/:
  sample.y4m        the input: 4 s of generated interlaced video, 720x480
  filtered.y4m      pelta's output with the default settings
  decisions.csv     the filter's decision for every frame (frame,match,comb,comb_th,status)
  before-after.png  frames 20, 44 and 75: input on top, output below
Watch them with:  ffplay $out_q/filtered.y4m
EOT
