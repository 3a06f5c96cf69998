#!/bin/sh
# Installs, with apt-get, whatever Debian 12 packages pelta's build, tests and
# demo need and this machine lacks. Does nothing (and needs no root) when all
# are present.
#   scripts/deps.sh test   the build and every test
#   scripts/deps.sh demo   the build and the sample clip (ffmpeg)
#   scripts/deps.sh package  the release package (scripts/package.sh)
# pelta.auf (32-bit) and pelta.exe (64-bit) come from the mingw-w64 cross
# compilers; pelta.exe needs the posix thread model for std::thread. The tests
# run pelta.exe under wine64.
set -eu
profile=${1:-test}

base="cmake ninja-build g++ make libgtest-dev libbenchmark-dev nlohmann-json3-dev
      g++-mingw-w64-i686 binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64"
case "$profile" in
  test) pkgs="$base g++-multilib qemu-user-static clang libclang-rt-14-dev ffmpeg zip unzip python3
             chromium chromium-driver python3-selenium fonts-noto-cjk wine64 python3-numpy python3-skimage" ;;
  demo) pkgs="$base ffmpeg" ;;
  package) pkgs="$base zip python3" ;;
  *) echo "deps.sh: unknown profile '$profile' (test, demo or package)" >&2; exit 2 ;;
esac

missing=""
for p in $pkgs; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *" installed") ;;
    *) missing="$missing $p" ;;
  esac
done
[ -z "$missing" ] && exit 0

echo "deps.sh: installing$missing" >&2
if [ "$(id -u)" -ne 0 ]; then
  echo "deps.sh: these packages are missing and installing them needs root:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $missing
