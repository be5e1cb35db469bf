#!/usr/bin/env bash
# Builds the platform-free code natively with clang, ASan and UBSan, and runs its three
# libFuzzer targets, the icon location parser, the icon file directory check and the
# settings file's reader, one after the other, sharing the given number of seconds (a
# third each; 0 skips them).
# Everything it writes stays in the build folder: each target's corpus, the fuzzers' whole
# report (fuzz/fuzz.log; printed in full when a fuzzer fails, its last lines otherwise)
# and the input that broke a target (fuzz/artifacts/, named after the target).
set -euo pipefail
source "$(dirname "$0")/common.sh"
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
  echo "fuzz.sh: the seconds to fuzz for are a whole number, not '$seconds'" >&2
  exit 2
fi
seconds=$((10#$seconds))
# 0 skips fuzzing, and its build: libFuzzer reads -max_total_time=0 as no limit at all.
if [ "$seconds" -eq 0 ]; then
  echo "fuzzing skipped (0 s)"
  exit 0
fi
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR/fuzz"
artifacts="$BUILD_DIR/fuzz/artifacts"
log="$BUILD_DIR/fuzz/fuzz.log"
mkdir -p "$artifacts"
: >"$log"
share=$(( (seconds + 2) / 3 ))

# run TARGET SEEDS MAX_LEN: fuzzes one target for its share of the time.
run() {
  local target=$1 seeds=$2 max_len=$3 corpus="$BUILD_DIR/fuzz/corpus-$1" status=0
  mkdir -p "$corpus"
  cp "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "== $target, $share s" >>"$log"
  "$BUILD_DIR/fuzz/fuzz/$target" -max_total_time="$share" -max_len="$max_len" \
    -artifact_prefix="$artifacts/$target-" "$corpus" >>"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    echo "$target:"
    tail -n 4 "$log"
  else
    cat "$log"
    echo "fuzz.sh: $target failed (exit code $status); its report is above and in $log, the input in $artifacts/" >&2
  fi
  return "$status"
}

run parse_icon_location_fuzzer "$ROOT/fuzz/seeds" 1200
# Long enough for a directory of a few hundred entries and their images.
run check_icon_file_fuzzer "$ROOT/fuzz/seeds-icon" 8192
# Long enough for a few settings with a small made icon each.
run read_settings_fuzzer "$ROOT/fuzz/seeds-settings" 16384
