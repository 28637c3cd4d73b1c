#!/bin/sh
# bench/run.sh NATIVE_BUILD WIN32_BUILD
#
# Makes the corpus (once) with the native build, measures the 32-bit DLL's
# decoding under Wine on it, then runs the native benchmarks, which print one
# table with every figure, the DLL's included. Google Benchmark's own JSON
# lands in NATIVE_BUILD/bench.json.
set -eu
native=$1
win32=$2
work=$native/bench-work
figures=$work/win32-decode.txt

"$native/bin/vyn_bench" --work "$work" --prepare-only
rm -f "$figures"
if [ -f "$win32/bin/vyn_bench_win32.exe" ]; then
  echo "measuring the 32-bit DLL under Wine" >&2
  status=0
  sh "$(dirname "$0")/../cmake/wine-run.sh" "$win32/wine-prefix" \
    "$win32/bin/vyn_bench_win32.exe" "$work/corpus" "$figures" >&2 || status=$?
  case $status in
    0) ;;
    77) echo "the 32-bit benchmark was skipped; its rows stay empty" >&2 ;;
    *) echo "the 32-bit benchmark failed; its rows stay empty" >&2 ;;
  esac
fi
exec "$native/bin/vyn_bench" --work "$work" --win32 "$figures" \
  --benchmark_out="$native/bench.json" --benchmark_out_format=json
