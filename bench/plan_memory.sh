#!/bin/bash
# What reading a plan costs: the peak resident memory (/usr/bin/time -v,
# maximum resident set size) and the time of `pelta --plan PLAN` over plans
# of every size up to the cap and beyond it, each made to cost the most its
# bytes can:
#   bench/plan_memory.sh [--pelta PROGRAM] [--dir DIR]
# PROGRAM defaults to build/cli/pelta of this tree; DIR (default: a
# temporary directory, removed at exit) keeps the plans and the clip. The
# clip is 8x2 monochrome frames, enough of them for every segment of the
# largest plan that is read, so the figures are the plan's and not the
# video's. Prints one row a plan: its size, what pelta said, the peak in
# MB and the seconds.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
pelta="$repo/build/cli/pelta"
dir=""
while [ $# -gt 0 ]; do
    case "$1" in
        --pelta) pelta=${2:?--pelta needs a program}; shift 2 ;;
        --dir) dir=${2:?--dir needs a directory}; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "plan_memory.sh: unknown argument '$1' (see --help)" >&2; exit 1 ;;
    esac
done
[ -x "$pelta" ] || { echo "plan_memory.sh: $pelta is not built" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "plan_memory.sh: /usr/bin/time is not installed (apt-get install time)" >&2; exit 1; }
if [ -z "$dir" ]; then
    dir=$(mktemp -d "${TMPDIR:-/tmp}/pelta-plan-memory.XXXXXX")
    trap 'rm -rf "$dir"' EXIT
fi
cd "$dir"

python3 - <<'EOF'
mb = 1 << 20
def segments(make, size=4 * mb):
    # As many segments as fit in `size` bytes.
    parts, used, i = [], 20, 0
    while used + len(make(i)) + 2 <= size:
        parts.append(make(i))
        used += len(parts[-1]) + 2
        i += 1
    return '{"segments": [' + ",\n".join(parts) + "]}\n"
still = lambda i: '{"start": %d, "frames": 1, "kind": "still"}' % i
match = lambda i: '{"start": %d, "frames": 1, "kind": "match", "tff": 1, "left": 0, "width": 0, "shift": 0}' % i
plans = {
    # 16 MB of {} as segments, under the cap pelta had before.
    "empty-segments-16MB": '{"segments": [' + ",".join(["{}"] * (16 * mb // 3 - 10)) + "]}",
    # The same within the cap: read to its first segment's fault.
    "empty-segments-4MB": '{"segments": [' + ",".join(["{}"] * (4 * mb // 3 - 10)) + "]}",
    # Keys a plan does not read, holding 4 MB of objects.
    "ignored-4MB": '{"note": [' + ",".join(["{}"] * (4 * mb // 3 - 30)) + '], "segments": [' + still(0) + "]}",
    # As many segments as fit, every one read and kept.
    "still-segments-4MB": segments(still),
    "match-segments-4MB": segments(match),
    # Nested as deep as fits.
    "deep-4MB": '{"segments": ' + "[" * (2 * mb - 10) + "]" * (2 * mb - 10) + "}",
}
for name, text in plans.items():
    open(name + ".json", "w").write(text)
# 8x2 monochrome frames, one for each segment of the largest plan.
frames = 4 * mb // 40
with open("clip.y4m", "wb") as f:
    f.write(b"YUV4MPEG2 W8 H2 F25:1 Cmono\n" + (b"FRAME\n" + bytes(range(16))) * frames)
EOF

printf '%-22s %8s  %-60s %9s %7s\n' plan bytes "pelta says" "peak MB" seconds
for plan in empty-segments-16MB empty-segments-4MB ignored-4MB still-segments-4MB match-segments-4MB deep-4MB; do
    status=0
    /usr/bin/time -v -o time.txt "$pelta" --quiet --threads 1 --plan "$plan.json" clip.y4m /dev/null \
        >/dev/null 2>said.txt || status=$?
    said=$(grep -v -e '^pelta: warning' -e '^Command ' said.txt | head -n 1 | cut -c1-60 || true)
    signal=$(sed -n 's/^Command terminated by signal \([0-9]*\)/\1/p' time.txt)
    if [ -n "$signal" ]; then said="(killed by signal $signal)"
    elif [ -z "$said" ]; then said="(filtered, status $status)"; fi
    peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' time.txt)
    secs=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; printf "%.2f", s }' time.txt)
    printf '%-22s %8d  %-60s %9s %7s\n' "$plan" "$(stat -c %s "$plan.json")" "$said" "$peak" "$secs"
done
