#!/bin/sh
# vyn_platforms_test.sh NATIVE_BIN WINDOWS_BIN WINE_RUN WINE_PREFIX
#
# Runs the same vyn commands on the same inputs with the native build and
# with the Windows build under Wine, and compares everything they produce
# byte for byte: standard output, standard error, exit statuses and every
# file written. Exits 77 (skipped) when either build is missing.
set -u

if [ ! -x "$1/vyn" ] || [ ! -f "$2/vyn.exe" ]; then
  echo "needs both $1/vyn and $2/vyn.exe; skipped"
  exit 77
fi
if ! why=$(sh "$(dirname "$3")/can-run-wine.sh"); then
  echo "skipped: $why"
  exit 77
fi
absolute() { (cd "$(dirname "$1")" && printf '%s/%s\n' "$(pwd)" "$(basename "$1")"); }
native_bin=$(absolute "$1")
windows_bin=$(absolute "$2")
wine_run=$(absolute "$3")
wine_prefix=$(absolute "$4")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run PLATFORM ARGS...: one vyn command in the platform's directory, its
# output and status appended to the platform's log.
run() {
  platform=$1
  shift
  (
    cd "$work/$platform"
    printf '$ vyn %s\n' "$*" >>../"$platform.log"
    if [ "$platform" = native ]; then
      "$native_bin/vyn" "$@" >out.txt 2>err.txt
    else
      "$wine_run" "$wine_prefix" "$windows_bin/vyn.exe" "$@" >out.txt 2>err.txt
    fi
    status=$?
    { cat out.txt; printf -- '-- stderr\n'; cat err.txt; printf -- '-- status %s\n' "$status"; } >>../"$platform.log"
    rm -f out.txt err.txt
  )
}

# view PLATFORM ARCHIVE: vyn view on the archive, and what it serves saved as
# files, to be compared like every other file. The address it prints holds a
# random port and token, so it is read but not kept.
view() {
  platform=$1
  (
    cd "$work/$platform"
    if [ "$platform" = native ]; then
      "$native_bin/vyn" view --no-open "$2" >view.txt 2>&1 &
    else
      "$wine_run" "$wine_prefix" "$windows_bin/vyn.exe" view --no-open "$2" >view.txt 2>&1 &
    fi
    server=$!
    address=""
    tries=0
    while [ -z "$address" ] && [ $tries -lt 240 ] && kill -0 $server 2>/dev/null; do
      sleep 0.25
      tries=$((tries + 1))
      address=$(sed -n 's|^  \(http://127\.0\.0\.1:[0-9]*\)/?t=\([0-9a-f]*\)$|\1 \2|p' view.txt)
    done
    if [ -z "$address" ]; then
      printf 'vyn view printed no address:\n' >served.txt
      cat view.txt >>served.txt
    else
      base=${address% *}
      token=${address#* }
      curl -s -o served-inputs.json "$base/api/inputs?t=$token"
      curl -s -o served-picture.png "$base/download/0/0/png?t=$token"
      curl -s -o served-member.bin "$base/download/0/1/original?t=$token"
      curl -s -o /dev/null -w '%{http_code} without the token\n' "$base/api/inputs" >served.txt
    fi
    kill $server 2>/dev/null
    wait $server 2>/dev/null
    rm -f view.txt
  )
}

for platform in native windows; do
  mkdir -p "$work/$platform"
  if [ "$platform" = native ]; then
    "$native_bin/vyn-sample" "$work/$platform/input"
  else
    (cd "$work/$platform" && "$wine_run" "$wine_prefix" "$windows_bin/vyn-sample.exe" input)
  fi
  printf 'not a picture, not an archive\n' >"$work/$platform/input/plain.txt"
  run $platform encode input/sample.png -o sample.GP8
  run $platform encode input/plain.txt -o never.GP8
  run $platform pack -o plain.ARC sample.GP8 input/notes.txt input/plain.txt
  run $platform pack -o scrambled.ARC --scramble sample.GP8 input/notes.txt
  run $platform pack -o never.ARC input/notes.txt
  run $platform identify plain.ARC scrambled.ARC sample.GP8 input/plain.txt missing.bin
  run $platform list plain.ARC
  run $platform list scrambled.ARC --json
  run $platform list sample.GP8
  run $platform extract scrambled.ARC -o extracted
  run $platform extract plain.ARC -o chosen plain.txt absent.txt
  run $platform convert extracted/sample.GP8 -o back.png
  run $platform convert sample.GP8 -o back.bmp
  run $platform convert input/plain.txt -o never.png
  run $platform convert sample.GP8 -o back.gif
  run $platform convert scrambled.ARC -o pictures
  run $platform convert 'plain.ARC:*.gp8' --ignore-case -o one.bmp
  run $platform extract --convert png plain.ARC -o converted
  view $platform plain.ARC
done

[ -n "${VYN_SHOW_LOG:-}" ] && cat "$work/native.log"
if ! cmp -s "$work/native.log" "$work/windows.log"; then
  echo "outputs differ (native, then Windows; rebuild both if one is out of date):"
  diff "$work/native.log" "$work/windows.log"
  exit 1
fi
if ! diff -r "$work/native" "$work/windows"; then
  echo "the files written differ"
  exit 1
fi
echo "native and Windows builds agree on $(grep -c '^\$ vyn' "$work/native.log") commands and every file written"
