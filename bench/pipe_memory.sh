#!/bin/bash
# What analysing a pipe costs as it grows: the peak resident memory
# (/usr/bin/time, maximum resident set size) and the time of
# `pelta analyze -` over pipes of 16x16 frames (the picture that makes the
# per-frame costs count the most) from 20,000 to 1,000,000 frames:
#   bench/pipe_memory.sh [--pelta PROGRAM]
# PROGRAM defaults to build/cli/pelta of this tree. The frames cycle through
# 64 pictures of seeded noise, made by python3 as the pipe runs. Prints one
# row a pipe: its frames, the peak in MB and the seconds.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
pelta="$repo/build/cli/pelta"
while [ $# -gt 0 ]; do
    case "$1" in
        --pelta) pelta=${2:?--pelta needs a program}; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "pipe_memory.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
done
[ -x /usr/bin/time ] || { echo "pipe_memory.sh: needs GNU time (Debian package time)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pelta-pipe-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
frames() {  # N frames of 16x16 4:2:0 Y4M on standard output
    python3 -c '
import random, sys
n = int(sys.argv[1]); out = sys.stdout.buffer
out.write(b"YUV4MPEG2 W16 H16 F30000:1001 Ip A1:1 C420jpeg\n")
rng = random.Random(1)
pics = [bytes(rng.randrange(256) for _ in range(384)) for _ in range(64)]
for i in range(n):
    out.write(b"FRAME\n"); out.write(pics[i % 64])
' "$1"
}
printf '%10s %10s %8s\n' frames "peak MB" seconds
for n in 20000 200000 1000000; do
    frames "$n" | /usr/bin/time -o "$work/t" -f '%M %e' "$pelta" analyze --quiet - >/dev/null 2>&1 || true
    read -r kb s < "$work/t"
    printf '%10d %10.1f %8s\n' "$n" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$s"
done
