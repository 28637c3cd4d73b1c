#!/bin/sh
# Runs every fuzz harness for a while over its corpus and reports, per
# harness, the executions, the corpus grown and any findings.
#   run-fuzzers.sh BUILD_DIR SEEDS_DIR SECONDS
set -u
build=$1
seeds=$2
seconds=${3:-60}
bin=$build/bin
work=$build/fuzz-work
mkdir -p "$work"

dict_for() {
  case $1 in
    cobbet_*|arc_*) echo "fuzz/cobbet.dict" ;;
    wennel_*|gp8_*) echo "fuzz/wennel.dict" ;;
  esac
}

status=0
printf '%-26s %12s %10s %8s\n' harness executions corpus findings
for harness in cobbet_recognise_fuzzer cobbet_listing_fuzzer cobbet_getfile_fuzzer \
               wennel_recognise_fuzzer wennel_picture_fuzzer arc_roundtrip_fuzzer gp8_roundtrip_fuzzer; do
  corpus=$work/corpus/$harness
  findings=$work/findings/$harness
  mkdir -p "$corpus" "$findings"
  cp -n "$seeds/$harness"/* "$corpus"/ 2>/dev/null
  [ -d "fuzz/regressions/$harness" ] && cp -n "fuzz/regressions/$harness"/* "$corpus"/ 2>/dev/null
  log=$work/$harness.log
  "$bin/$harness" "$corpus" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
      -rss_limit_mb=2048 -dict="$(dict_for $harness)" -artifact_prefix="$findings/" >"$log" 2>&1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(find "$findings" -type f | wc -l)
  size=$(find "$corpus" -type f | wc -l)
  printf '%-26s %12s %10s %8s\n' "$harness" "${execs:-?}" "$size" "$found"
  if [ "$found" -ne 0 ] || [ -z "$execs" ]; then
    status=1
    echo "  see $log and $findings" >&2
    tail -n 30 "$log" >&2
  fi
done
exit $status
