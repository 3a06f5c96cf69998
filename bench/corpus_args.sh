# The options the corpus scripts share (bench/captures.sh,
# bench/long_captures.sh and bench/segments.sh), sourced by each:
#   corpus_args NAME "$@"
# sets build, quick, seed (left as the caller set it unless --seed), jobs,
# only, recheck and dir; NAME is the script's, for its messages. A script
# with options of its own defines corpus_option, which takes the remaining
# arguments, sets `taken` to how many of them its option used and returns
# 0, or returns 1 where the first is not its own.
corpus_args() {
    local name=$1
    shift
    build="$repo/build" quick="" jobs=1 only="" recheck="" dir=""
    while [ $# -gt 0 ]; do
        case "$1" in
            --build) build=${2:?--build needs a directory}; shift 2 ;;
            --quick) quick=--quick; shift ;;
            --seed) seed=${2:?--seed needs a number}; shift 2 ;;
            --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
            --only) only=${2:?--only needs a regex}; shift 2 ;;
            --recheck) recheck=1; shift ;;
            -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
            -*)
                if declare -F corpus_option >/dev/null && corpus_option "$@"; then
                    shift "$taken"
                else
                    echo "$name: unknown option '$1' (see --help)" >&2
                    exit 2
                fi ;;
            *) [ -z "$dir" ] || { echo "$name: one directory only" >&2; exit 2; }; dir=$1; shift ;;
        esac
    done
}
