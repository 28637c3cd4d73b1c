#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -eu

packages="cmake ninja-build g++ make libgtest-dev binutils libcli11-dev libpng-dev"
# vyn view: its HTTP server and JSON, and the browser and Node.js that its
# end-to-end test drives.
packages="$packages pkg-config libcpp-httplib-dev nlohmann-json3-dev chromium nodejs curl"
# Debian's npm is a package of its own; other builds of Node.js bring theirs.
command -v npm >/dev/null 2>&1 || packages="$packages npm"
# Sanitizers, fuzzing and memory checking.
packages="$packages clang libclang-rt-14-dev valgrind"
# Google Benchmark, and time for peak memory of vyn, for `make bench`.
packages="$packages libbenchmark-dev time"
# The Windows DLLs: the MinGW-w64 cross compiler, GoogleTest's sources to build
# with it, and 32-bit Wine to run the tests. vyn.exe links zlib and libpng
# statically: zlib from Debian's MinGW package, libpng and cpp-httplib built
# from Debian's own source packages (fetched by the win32 configure, see
# below).
packages="$packages g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest wine wine32:i386"
packages="$packages libz-mingw-w64-dev dpkg-dev"

# The source packages come from the configured Debian mirror: one deb-src
# entry for its main suite, added only for them.
src_list=/etc/apt/sources.list.d/vyn-libpng-source.sources
need_source=""
for source in libpng1.6 cpp-httplib; do
  if ! apt-cache showsrc "$source" 2>/dev/null | grep -q "^Package: $source\$"; then
    need_source=yes
  fi
done

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && [ -z "$need_source" ] && exit 0

[ -n "$missing" ] && echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  [ -n "$missing" ] && echo "These packages are missing and installing them needs root:$missing" >&2
  [ -n "$need_source" ] && echo "The Windows build needs a deb-src entry for the source packages of libpng and cpp-httplib; adding it needs root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if [ -n "$need_source" ] && [ ! -f "$src_list" ]; then
  # The mirror and suite of the first Debian entry, in either format.
  mirror=""
  suite=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
    suite=$(awk '/^Suites:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  elif [ -f /etc/apt/sources.list ]; then
    mirror=$(awk '$1 == "deb" && $2 !~ /^\[/ {print $2; exit}' /etc/apt/sources.list)
    suite=$(awk '$1 == "deb" && $2 !~ /^\[/ {print $3; exit}' /etc/apt/sources.list)
  fi
  if [ -z "$mirror" ] || [ -z "$suite" ]; then
    echo "No Debian mirror configured for apt; the Windows build needs the source packages of libpng and cpp-httplib" >&2
    exit 1
  fi
  echo "Adding a deb-src entry for $mirror $suite (libpng's and cpp-httplib's sources, for the Windows build)"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" "$suite" | $sudo tee "$src_list" >/dev/null
fi
# 32-bit Wine comes from the i386 architecture.
case "$missing" in
  *:i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
esac
$sudo apt-get update -q
# shellcheck disable=SC2086
[ -z "$missing" ] || $sudo apt-get install -y -q --no-install-recommends $missing
