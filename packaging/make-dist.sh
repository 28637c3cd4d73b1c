#!/bin/sh
# make-dist.sh [LINUX_BUILD [WIN32_BUILD [OUT_DIR]]]
#
# Builds a release from a clean tree and writes into OUT_DIR (default dist/):
#   vyn-VERSION-win32.zip         cobbet.dll, wennel.dll, vyn.exe and papers
#   vyn-VERSION-linux-x86_64.tar.gz  the installed tree: bin/vyn, lib/vyn/...
#   vyn_VERSION_amd64.deb          the same under /usr
# Both builds are Release builds in their own directories (default
# build/dist-linux and build/dist-win32), made afresh; the shipped copies are
# stripped. The same commit gives the same bytes: every time stamp is
# SOURCE_DATE_EPOCH (default: the commit's time), entries are sorted, owners
# and permissions fixed. Fails when a shipped file names the checkout or a
# build directory, or a DLL imports more than KERNEL32.dll and msvcrt.dll.
set -eu

linux_build=${1:-build/dist-linux}
win32_build=${2:-build/dist-win32}
out=${3:-dist}
jobs=${JOBS:-$(nproc)}
source_dir=$(pwd)

: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022

say() { printf '== %s\n' "$*"; }

rm -rf "$linux_build" "$win32_build"
mkdir -p "$linux_build" "$win32_build" "$out"
linux_build=$(cd "$linux_build" && pwd)
win32_build=$(cd "$win32_build" && pwd)
out=$(cd "$out" && pwd)

release="-G Ninja -DCMAKE_BUILD_TYPE=Release -DVYN_BUILD_TESTS=OFF"
say "native build in $linux_build"
# Linked with the installed RPATH ($ORIGIN) from the start: the build-tree
# one names the build directory, and the build ID, a hash of the linked
# file, would keep that name after install rewrote the RPATH.
# shellcheck disable=SC2086
cmake -S . -B "$linux_build" $release -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON >/dev/null
cmake --build "$linux_build" -j "$jobs"
say "Windows build in $win32_build"
# shellcheck disable=SC2086
cmake -S . -B "$win32_build" $release \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$win32_build" -j "$jobs"

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$linux_build/CPackConfig.cmake")
[ -n "$version" ] || { echo "no version in $linux_build/CPackConfig.cmake" >&2; exit 1; }
stage=$linux_build/stage
rm -rf "$stage"
mkdir -p "$stage"

# Every staged file gets the release's time and plain permissions.
normalise() {
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  find "$1" -type d -exec chmod 755 {} +
  find "$1" -type f -exec chmod go-w,a+r {} +
}

# The Windows zip: one folder, flat.
win_name=vyn-$version-win32
cmake --install "$win32_build" --prefix "$stage/$win_name" --strip >/dev/null
for dll in cobbet.dll wennel.dll; do
  imports=$(i686-w64-mingw32-objdump -p "$stage/$win_name/$dll" |
    sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')
  if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
    echo "$dll imports $imports, not only KERNEL32.dll and msvcrt.dll" >&2
    exit 1
  fi
done
normalise "$stage/$win_name"
rm -f "$out/$win_name.zip"
(cd "$stage" && find "$win_name" | sort | zip -q -X -9 -D "$out/$win_name.zip" -@)

# The Linux tarball: the installed tree.
linux_name=vyn-$version-linux-x86_64
cmake --install "$linux_build" --prefix "$stage/$linux_name" --strip >/dev/null
normalise "$stage/$linux_name"
tar -C "$stage" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
  --numeric-owner --format=gnu -cf - "$linux_name" | gzip -9 -n >"$out/$linux_name.tar.gz"

# The .deb, through CPack.
rm -rf "$linux_build/package"
(cd "$linux_build" && cpack -G DEB >/dev/null)
deb=$(find "$linux_build/package" -maxdepth 1 -name '*.deb')
cp "$deb" "$out/"
deb=$out/$(basename "$deb")
mkdir "$stage/deb"
dpkg-deb -x "$deb" "$stage/deb"

# No file of the release may name this machine's directories.
leaks=$(grep -rlF -e "$source_dir" -e "$linux_build" -e "$win32_build" \
  "$stage/$win_name" "$stage/$linux_name" "$stage/deb" || true)
if [ -n "$leaks" ]; then
  echo "These shipped files name a directory of this machine:" >&2
  printf '  %s\n' $leaks >&2
  exit 1
fi

say "release $version (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) in $out"
for file in "$out/$win_name.zip" "$out/$linux_name.tar.gz" "$deb"; do
  printf '%10d  %s\n' "$(stat -c %s "$file")" "$(basename "$file")"
done
