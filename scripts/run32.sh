# run32 [--cpu MODEL] PROGRAM [ARGS...]: runs a static 32-bit x86 Linux
# program (pelta32, the DLL test harness) directly where this kernel runs such
# programs, and under qemu-i386-static (invoked directly, no binfmt
# registration) where it cannot. Sourced by scripts/pelta-dll and the tests
# (tests/dll/run_dll_check.sh); the C++ tests have the same rule in
# cli_test::run32 (tests/cli/cli_test_util.h).
#
# Whether the kernel can is told by PROGRAM --help ending with status 0, so
# every 32-bit program of this project answers --help. PELTA_FORCE_QEMU=1
# takes qemu-i386-static all the same, so both ways can be tried on any
# machine; --cpu MODEL always emulates, on qemu's CPU MODEL (qemu32: SSE2
# without SSSE3 or AVX). Without --cpu, qemu takes its CPU model from
# QEMU_CPU, or its default, which offers AVX2. Returns 127 with a message
# when qemu-i386-static is needed and missing.

# run32_native PROGRAM: true when run32 would run PROGRAM directly.
run32_native() {
    [ "${PELTA_FORCE_QEMU:-0}" != 1 ] && "$1" --help >/dev/null 2>&1
}

run32() {
    run32_cpu=
    if [ "${1:-}" = --cpu ]; then
        run32_cpu=$2
        shift 2
    fi
    if [ -z "$run32_cpu" ] && run32_native "$1"; then
        "$@"
        return
    fi
    run32_qemu=$(command -v qemu-i386-static) || {
        echo "run32: the 32-bit $1 needs qemu-i386-static here (this kernel does not run 32-bit x86 programs, or PELTA_FORCE_QEMU=1 or --cpu asks for it), and it is missing: apt-get install qemu-user-static" >&2
        return 127
    }
    if [ -n "$run32_cpu" ]; then
        "$run32_qemu" -cpu "$run32_cpu" "$@"
    else
        "$run32_qemu" "$@"
    fi
}
