#!/bin/sh
# Runs a Windows program with wine64 in a Wine prefix of the build's own,
# quietly and without prompts: no display, no installers for Mono or Gecko
# (which nothing here needs), no debug channels:
#   run_wine.sh WINE64 PREFIX PROGRAM [ARGS...]
#   run_wine.sh WINE64 PREFIX --boot   makes or updates the prefix, once,
#                                      before the tests run programs in it
set -u
wine=${1:?usage: run_wine.sh WINE64 PREFIX PROGRAM [ARGS...]}
prefix=${2:?usage: run_wine.sh WINE64 PREFIX PROGRAM [ARGS...]}
shift 2
WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# Wine turns the Unix side's names and arguments into Windows' Unicode by the
# locale's character set: under the C locale of a bare system a Japanese name
# would not survive. C.UTF-8 is built into Debian's C library.
LC_ALL=C.UTF-8
export LC_ALL
unset DISPLAY WAYLAND_DISPLAY
if [ "${1:-}" = --boot ]; then
  "$wine" wineboot --init </dev/null >"${prefix%/}.boot.log" 2>&1
  status=$?
  # The programs that wait for a prefix to settle return once wineserver is
  # done with it.
  "$(dirname "$wine")/wineserver" --wait 2>/dev/null
  [ "$status" -eq 0 ] && [ -d "$prefix/drive_c/windows" ] && exit 0
  echo "run_wine.sh: wineboot failed (status $status); its output:" >&2
  cat "${prefix%/}.boot.log" >&2
  exit 1
fi
exec "$wine" "$@"
