# The set-up shared by the bench/ scripts that make clips with ffmpeg and
# score pelta's output. Sourced by a bash script under `set -euo pipefail`:
#   bench_setup NAME TARGET... -- "$@"
# parses the script's arguments, --build DIR (a configured build directory,
# default build/ of this tree), --dir DIR (where the clips are kept, default
# a temporary directory removed at exit) and -h/--help (prints the script's
# leading comment); checks for ffmpeg; builds the targets; and sets
#   repo, build, dir   the source tree, the build and the working directory
#   pelta, score       the build's pelta and pelta_score
#   bench_tmp          $dir when it is temporary (removed at exit), else empty
# and defines ff: ffmpeg, quiet, overwriting, never reading the terminal;
# telecine_clip W H FRAMES: the timing clip of one size in $dir.

bench_setup() {
    local name=$1 targets=()
    shift
    while [ "$1" != -- ]; do targets+=("$1"); shift; done
    shift
    repo=$(cd "$(dirname "$0")/.." && pwd)
    build="$repo/build"
    dir=""
    bench_tmp=""
    while [ $# -gt 0 ]; do
        case "$1" in
            --build) build=${2:?--build needs a directory}; shift 2 ;;
            --dir) dir=${2:?--dir needs a directory}; shift 2 ;;
            -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"
                       exit 0 ;;
            *) echo "$name: unknown argument '$1' (see --help)" >&2; exit 1 ;;
        esac
    done
    command -v ffmpeg >/dev/null || { echo "$name: ffmpeg is not installed" >&2; exit 1; }
    [ -f "$build/CMakeCache.txt" ] || { echo "$name: $build is not a configured build directory" >&2; exit 1; }
    cmake --build "$build" --target "${targets[@]}" >&2
    pelta="$build/cli/pelta"
    score="$build/bench/pelta_score"
    if [ -z "$dir" ]; then
        dir=$(mktemp -d "${TMPDIR:-/tmp}/pelta-${name%.sh}.XXXXXX")
        bench_tmp=$dir
        trap 'rm -rf "$bench_tmp"' EXIT
    else
        mkdir -p "$dir"
    fi
}

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# The timing clip of one size, made once in $dir: a hard 3:2 telecine of
# testsrc2 at 24000/1001, cut to FRAMES output frames (30000/1001), 8-bit
# 4:2:0, top field first. Prints its path.
telecine_clip() {
    local w=$1 h=$2 frames=$3 clip="$dir/telecine-$1x$2-$3.y4m"
    if [ ! -s "$clip" ]; then
        echo "making $clip ..." >&2
        ff -f lavfi -i "testsrc2=size=${w}x${h}:rate=24000/1001" \
            -vf "telecine=first_field=t:pattern=23,format=yuv420p" -frames:v "$frames" \
            -f yuv4mpegpipe "$clip.part"
        mv "$clip.part" "$clip"
    fi
    echo "$clip"
}
