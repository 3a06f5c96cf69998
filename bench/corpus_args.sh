# The options the corpus builders share (bench/captures.sh and
# bench/long_captures.sh), sourced by both:
#   corpus_args NAME "$@"
# sets build, quick, seed (left as the caller set it unless --seed), jobs,
# only, recheck and dir; NAME is the script's, for its messages.
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
            -*) echo "$name: unknown option '$1' (see --help)" >&2; exit 2 ;;
            *) [ -z "$dir" ] || { echo "$name: one directory only" >&2; exit 2; }; dir=$1; shift ;;
        esac
    done
}
