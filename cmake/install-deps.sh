#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -eu

packages="cmake ninja-build g++ make libgtest-dev binutils libcli11-dev libstb-dev"
# vyn view: its HTTP server and JSON, and the browser and Node.js that its
# end-to-end test drives.
packages="$packages pkg-config libcpp-httplib-dev nlohmann-json3-dev chromium nodejs"
# Debian's npm is a package of its own; other builds of Node.js bring theirs.
command -v npm >/dev/null 2>&1 || packages="$packages npm"
# Sanitizers, fuzzing and memory checking.
packages="$packages clang libclang-rt-14-dev valgrind"
# Google Benchmark, for `make bench`.
packages="$packages libbenchmark-dev"
# The Windows DLLs: the MinGW-w64 cross compiler, GoogleTest's sources to build
# with it, and 32-bit Wine to run the tests.
packages="$packages g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest wine wine32:i386"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  echo "These packages are missing and installing them needs root:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine comes from the i386 architecture.
case "$missing" in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
esac
$sudo apt-get update -q
# shellcheck disable=SC2086
$sudo apt-get install -y -q --no-install-recommends $missing
