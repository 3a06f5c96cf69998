#!/bin/sh
# Runs the scenarios against the native library and against the loaded
# pelta.auf, and compares the record streams.
#   run_dll_check.sh REFERENCE HARNESS PELTA_AUF WORKDIR [QEMU_I386]
# The 32-bit harness runs on every CPU at hand:
#   - directly, where the kernel executes 32-bit x86 programs (the real CPU,
#     with its own x87 and SIMD units);
#   - under qemu-i386-static when given (invoked directly, no binfmt
#     registration) on "qemu32", an SSE2/SSE3 CPU without SSSE3 or AVX, so the
#     DLL's SSE2 baseline runs; and on qemu's default CPU, which offers AVX2,
#     when the kernel could not run the harness itself.
set -u
reference=$1 harness=$2 auf=$3 workdir=$4 qemu=${5:-}
fail() { echo "run_dll_check: $*" >&2; exit 1; }

[ -f "$auf" ] || fail "no DLL at $auf (is PELTA_BUILD_DLL on and the build done?)"
[ -x "$harness" ] || fail "no harness at $harness"
mkdir -p "$workdir" || fail "cannot create $workdir"

"$reference" run "$workdir/native.bin" || fail "the native run failed its checks (see above)"

# check LABEL [RUNNER...]: runs the harness (behind RUNNER) and compares.
check() {
  label=$1; shift
  echo "run_dll_check: pelta.auf on $label"
  "$@" "$harness" "$auf" "$workdir/dll_$label.bin" || fail "the run of pelta.auf on $label failed (see above)"
  "$reference" compare "$workdir/native.bin" "$workdir/dll_$label.bin" || fail "pelta.auf on $label differs"
}

runs=0
# Without arguments the harness prints its usage and exits with 2.
"$harness" >/dev/null 2>&1
if [ $? -eq 2 ]; then
  check this-cpu
  runs=$((runs + 1))
fi
if [ -n "$qemu" ]; then
  check qemu32 "$qemu" -cpu qemu32
  [ "$runs" -gt 0 ] || check qemu-default "$qemu"
  runs=$((runs + 1))
fi
[ "$runs" -gt 0 ] || fail "this kernel cannot run the 32-bit harness and qemu-i386-static is missing (scripts/deps.sh test installs it)"
