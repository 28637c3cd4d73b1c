#!/bin/sh
# check-install.sh BUILD_DIR SOURCE_DIR
#
# Installs the build, stripped as a release ships it, into a fresh prefix and
# checks that
# - PREFIX/bin/vyn, run from another directory with no VYN_PLUGINS, finds
#   both plug-ins of the prefix;
# - no installed file names the checkout or the build directory of this
#   machine.
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failed=0

cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }

mkdir "$work/elsewhere"
listing=$(cd "$work/elsewhere" && env -u VYN_PLUGINS "$prefix/bin/vyn" plugins 2>&1) || {
  echo "FAIL: $prefix/bin/vyn plugins: $listing"
  exit 1
}
for plugin in cobbet wennel; do
  if ! printf '%s\n' "$listing" | grep -qx "$prefix/lib/vyn/$plugin.so"; then
    echo "FAIL: vyn plugins does not list $prefix/lib/vyn/$plugin.so:"
    printf '%s\n' "$listing"
    failed=1
  fi
done

leaks=$(grep -rlF -e "$source" -e "$build" "$prefix" || true)
if [ -n "$leaks" ]; then
  echo "FAIL: installed files that name $source or $build:"
  printf '  %s\n' $leaks
  failed=1
fi

[ "$failed" -eq 0 ] && echo "$(find "$prefix" -type f | wc -l) files installed; vyn finds both plug-ins; no path of this machine in them"
exit "$failed"
