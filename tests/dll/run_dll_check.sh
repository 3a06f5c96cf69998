#!/bin/sh
# Runs the scenarios against the native library and against the loaded
# pelta.auf, and compares the record streams.
#   run_dll_check.sh REFERENCE HARNESS PELTA_AUF WORKDIR
# The 32-bit harness runs through run32 (scripts/run32.sh):
#   - as this machine runs it: directly where the kernel executes 32-bit x86
#     programs (the real CPU, with its own x87 and SIMD units), else under
#     qemu-i386-static on qemu's default CPU, which offers AVX2
#     (PELTA_FORCE_QEMU=1 takes the emulator here too);
#   - and under qemu-i386-static on "qemu32", an SSE2/SSE3 CPU without SSSE3
#     or AVX, so the DLL's SSE2 baseline runs.
set -u
reference=$1 harness=$2 auf=$3 workdir=$4
fail() { echo "run_dll_check: $*" >&2; exit 1; }
. "$(dirname "$0")/../../scripts/run32.sh"

[ -f "$auf" ] || fail "no DLL at $auf (is PELTA_BUILD_DLL on and the build done?)"
[ -x "$harness" ] || fail "no harness at $harness"
mkdir -p "$workdir" || fail "cannot create $workdir"

"$reference" run "$workdir/native.bin" || fail "the native run failed its checks (see above)"

# check LABEL [--cpu MODEL]: runs the harness and compares.
check() {
  label=$1; shift
  echo "run_dll_check: pelta.auf on $label"
  run32 "$@" "$harness" "$auf" "$workdir/dll_$label.bin" || fail "the run of pelta.auf on $label failed (see above)"
  "$reference" compare "$workdir/native.bin" "$workdir/dll_$label.bin" || fail "pelta.auf on $label differs"
}

if run32_native "$harness"; then check this-cpu; else check qemu-default; fi
check qemu32 --cpu qemu32
