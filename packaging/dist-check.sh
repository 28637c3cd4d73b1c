#!/bin/sh
# dist-check.sh
#
# Builds the release twice, each time from a clean tree in directories of
# its own (build/dist-check/1 and build/dist-check/2), and compares every
# archive byte for byte: one commit must give one release.
set -eu
# Both runs take the one time stamp, even if a commit lands in between.
: "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
top=build/dist-check
rm -rf "$top"
for run in 1 2; do
  sh packaging/make-dist.sh "$top/$run/linux" "$top/$run/win32" "$top/$run/dist"
done
status=0
for file in "$top"/1/dist/*; do
  name=$(basename "$file")
  if cmp "$file" "$top/2/dist/$name"; then
    echo "same bytes: $name ($(stat -c %s "$file") bytes)"
  else
    echo "DIFFERENT: $name"
    status=1
  fi
done
[ "$(ls "$top/1/dist" | wc -l)" -eq "$(ls "$top/2/dist" | wc -l)" ] || {
  echo "the two runs made different files"
  status=1
}
exit "$status"
