#!/bin/sh
# Checks that the plug-in's includes run one way, down the layers:
#   0 base:      src/base/*, and the host's records, control indices and
#                platform calls (src/host/host_records.h, controls.h,
#                platform.h, platform_native.cpp, host_side.h)
#   1 stages:    src/match/*, src/window/* (neither includes the other)
#   2 procedure: src/pipeline/*
#   3 entry:     src/host/descriptor.*, src/host/dll_entry.cpp
# A file may include its own layer or a lower one, never a higher one.
# Prints each offending include and fails if there is any.
set -eu
src=${1:-$(dirname "$0")/../src}

layer() {
    case "$1" in
        base/*|host/host_records.h|host/controls.h|host/platform.h|host/platform_native.cpp|host/platform_native.h|host/host_side.h) echo 0 ;;
        match/*|window/*) echo 1 ;;
        pipeline/*) echo 2 ;;
        host/descriptor.*|host/dll_entry.cpp|pelta_version.h) echo 3 ;;
        *) echo unknown ;;
    esac
}

bad=0
files=$(cd "$src" && find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort)
[ -n "$files" ] || { echo "no sources under $src"; exit 1; }
for f in $files; do
    from=$(layer "$f")
    if [ "$from" = unknown ]; then
        echo "$f: not placed in any layer"
        bad=1
        continue
    fi
    for inc in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$src/$f"); do
        to=$(layer "$inc")
        if [ "$to" = unknown ]; then
            echo "$f includes $inc, which is in no layer"
            bad=1
        elif [ "$to" -gt "$from" ]; then
            echo "$f (layer $from) includes $inc (layer $to)"
            bad=1
        elif [ "$from" = 1 ] && [ "${f%%/*}" != "${inc%%/*}" ] && [ "$to" = 1 ]; then
            echo "$f includes $inc: the two stage groups stay apart"
            bad=1
        fi
    done
done
[ "$bad" = 0 ] && echo "includes run down the layers ($(echo "$files" | wc -l) files)"
exit "$bad"
