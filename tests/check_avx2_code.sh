#!/bin/sh
# Checks that AVX2 code stays in the AVX2 kernels, which the dispatch tables
# hand out only where the CPU runs AVX2: in each static library given, every
# VEX-encoded instruction (the AVX and AVX2 forms, all of whose mnemonics
# begin with v) lies in a member built from a *_avx2.cpp file, and each such
# member has some, so the check cannot pass by finding no AVX2 code at all.
# Prints each offending function and fails if there is any.
# Usage: check_avx2_code.sh OBJDUMP LIBRARY...
set -eu
[ $# -ge 2 ] || { echo "usage: $0 OBJDUMP LIBRARY..."; exit 2; }
objdump=$1
shift
bad=0
for lib in "$@"; do
    found=$("$objdump" -d --no-show-raw-insn "$lib" | awk '
        # A member is named "name.o:" (GNU objdump) or "library(name.o):" (llvm-objdump).
        /file format/ {
            member = $1
            sub(/:$/, "", member)
            sub(/^.*\(/, "", member)
            sub(/\)$/, "", member)
            avx2[member] = member ~ /_avx2\.cpp\.o$/
            next
        }
        /^[0-9a-f]+ <.*>:$/ { fn = $2; sub(/:$/, "", fn); next }
        /^ *[0-9a-f]+:/ {
            insn = $0
            sub(/^ *[0-9a-f]+:[ \t]*/, "", insn)
            if (insn !~ /^v[a-z0-9]+([ \t]|$)/) next
            vex[member]++
            if (!avx2[member] && !((member, fn) in told)) {
                told[member, fn] = 1
                print lib_name ": " member " " fn ": " insn
            }
        }
        END { for (m in avx2) if (avx2[m] && !vex[m]) print lib_name ": " m ": no AVX2 instruction" }
    ' lib_name="$lib")
    if [ -n "$found" ]; then
        echo "$found"
        bad=1
    fi
done
exit $bad
