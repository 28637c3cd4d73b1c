#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -eu

packages="cmake ninja-build g++ make libgtest-dev binutils libcli11-dev libpng-dev libdeflate-dev"
# vyn view: its HTTP server and JSON, and the browser and Node.js that its
# end-to-end test drives.
packages="$packages pkg-config libcpp-httplib-dev nlohmann-json3-dev chromium nodejs curl"
# A Japanese font, so that the browser test's screenshots show member names
# and Shift-JIS text rather than empty boxes.
packages="$packages fonts-ipafont-gothic"
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
packages="$packages g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest"
packages="$packages libz-mingw-w64-dev dpkg-dev"
# The Japanese locale that gives Wine the ANSI code page 932 is made from the
# definitions in Debian's locales package.
packages="$packages locales"
# make dist: the Windows zip, and the .deb's dependencies (dpkg-shlibdeps, in
# dpkg-dev above).
packages="$packages zip"
# Installed on their own: 32-bit Wine's i386 packages must match the versions
# of their amd64 twins, and a mirror caught mid-sync can make that impossible
# for a while. Without them the Windows suites are skipped, with a line that
# says why (cmake/can-run-wine.sh); everything else still builds and runs.
wine_packages="wine wine32:i386"

# The source packages come from the configured Debian mirror: one deb-src
# entry for its main suite, added only for them.
src_list=/etc/apt/sources.list.d/vyn-libpng-source.sources
need_source=""
for source in libpng1.6 cpp-httplib libdeflate; do
  if ! apt-cache showsrc "$source" 2>/dev/null | grep -q "^Package: $source\$"; then
    need_source=yes
  fi
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=""
for p in $packages; do
  installed "$p" || missing="$missing $p"
done
missing_wine=""
for p in $wine_packages; do
  installed "$p" || missing_wine="$missing_wine $p"
done
[ -z "$missing" ] && [ -z "$missing_wine" ] && [ -z "$need_source" ] && exit 0

[ -n "$missing$missing_wine" ] && echo "Installing:$missing$missing_wine"
if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  [ -n "$missing$missing_wine" ] && echo "These packages are missing and installing them needs root:$missing$missing_wine" >&2
  [ -n "$need_source" ] && echo "The Windows build needs a deb-src entry for the source packages of libpng, cpp-httplib and libdeflate; adding it needs root" >&2
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
  echo "Adding a deb-src entry for $mirror $suite (the sources of libpng, cpp-httplib and libdeflate, for the Windows build)"
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" "$suite" | $sudo tee "$src_list" >/dev/null
fi
# 32-bit Wine comes from the i386 architecture.
if [ -n "$missing_wine" ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index; the lists it did fetch are
# still good, so try once more and then go on with what there is.
$sudo apt-get update -q || { sleep 5; $sudo apt-get update -q; } ||
  echo "apt-get update failed for some lists; installing from those it has" >&2
# shellcheck disable=SC2086
[ -z "$missing" ] || $sudo apt-get install -y -q --no-install-recommends $missing
# shellcheck disable=SC2086
if [ -n "$missing_wine" ] &&
  ! $sudo apt-get install -y -q --no-install-recommends $missing_wine; then
  echo "Could not install$missing_wine: the Windows suites will be skipped" >&2
fi
