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
    case $platform in
      *native) "$native_bin/vyn" "$@" >out.txt 2>err.txt ;;
      *932) VYN_WINE_CODE_PAGE=932 "$wine_run" "$wine_prefix" "$windows_bin/vyn.exe" "$@" >out.txt 2>err.txt ;;
      *) "$wine_run" "$wine_prefix" "$windows_bin/vyn.exe" "$@" >out.txt 2>err.txt ;;
    esac
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

# People's own folders: Japanese names with spaces, read under the Japanese
# ANSI code page and under 1252, and names that neither code page holds
# (Korean, an emoji), which the plug-ins get as memory input. vyn.exe and
# its plug-ins lie in a Japanese-named folder too.
folder="入力 フォルダ"
for platform in ja-native ja-windows1252 ja-windows932; do
  mkdir -p "$work/$platform/$folder" "$work/$platform/ツール"
  cp "$work/native/input/sample.png" "$work/$platform/$folder/画像.png"
  cp "$work/native/input/notes.txt" "$work/$platform/$folder/メモ.txt"
  cp "$work/native/input/notes.txt" "$work/$platform/한국어.txt"
  case $platform in
    *native) cp "$native_bin/vyn" "$native_bin"/*.so "$work/$platform/ツール/" ;;
    *) cp "$windows_bin/vyn.exe" "$windows_bin/cobbet.dll" "$windows_bin/wennel.dll" "$work/$platform/ツール/" ;;
  esac
  run $platform encode "$folder/画像.png" -o "$folder/画像.GP8"
  run $platform encode "$folder/画像.png" -o "$folder/그림 😀.GP8"
  run $platform pack -o "$folder/日本語 アーカイブ.ARC" "$folder/画像.GP8" "$folder/メモ.txt"
  run $platform pack -o "한국어 😀.ARC" --scramble "$folder/画像.GP8" "한국어.txt"
  run $platform pack -o "한국어 😀.ARC" --scramble "$folder/画像.GP8" "$folder/メモ.txt"
  run $platform identify "$folder/日本語 アーカイブ.ARC" "$folder/画像.GP8" "$folder/그림 😀.GP8" "한국어 😀.ARC" "$folder/なし.ARC"
  run $platform list "$folder/日本語 アーカイブ.ARC"
  run $platform list "한국어 😀.ARC" --json
  run $platform extract "$folder/日本語 アーカイブ.ARC" -o "$folder/展開"
  run $platform extract "한국어 😀.ARC" -o "展開 😀" "メモ.txt"
  run $platform convert "$folder/그림 😀.GP8" -o "$folder/戻り 😀.png"
  run $platform convert "$folder/画像.GP8" -o "$folder/戻り.bmp"
  run $platform convert "한국어 😀.ARC" -o "$folder/絵"
  run $platform convert "한국어 😀.ARC:画像.GP8" -o "$folder/一枚.png"
  run $platform extract --convert png "$folder/日本語 アーカイブ.ARC" -o "$folder/変換"
  ( cd "$work/$platform/ツール" && case $platform in
      *native) ./vyn plugins ;;
      *932) VYN_WINE_CODE_PAGE=932 "$wine_run" "$wine_prefix" ./vyn.exe plugins ;;
      *) "$wine_run" "$wine_prefix" ./vyn.exe plugins ;;
    esac | grep -c '^  kind:' >"$work/$platform/plugins-found.txt" )
  rm -f "$work/$platform/ツール"/*
done

[ -n "${VYN_SHOW_LOG:-}" ] && cat "$work/native.log" "$work/ja-native.log"
# same A B: the logs and the files written by the runs in A and B agree.
same() {
  if ! cmp -s "$work/$1.log" "$work/$2.log"; then
    echo "outputs differ ($1, then $2; rebuild both if one is out of date):"
    diff "$work/$1.log" "$work/$2.log"
    exit 1
  fi
  if ! diff -r "$work/$1" "$work/$2"; then
    echo "the files written differ ($1, $2)"
    exit 1
  fi
}
same native windows
same ja-native ja-windows1252
same ja-native ja-windows932
echo "native and Windows builds agree on $(grep -c '^\$ vyn' "$work/native.log") commands and every file written, and on $(grep -c '^\$ vyn' "$work/ja-native.log") more on Japanese paths under code pages 1252 and 932"
