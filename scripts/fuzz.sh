#!/usr/bin/env bash
# Builds the platform-free text code natively with clang, ASan and UBSan, and runs the
# libFuzzer target for the icon location parser for the given number of seconds.
# Everything it writes stays in the build folder: the corpus, the fuzzer's whole report
# (fuzz/fuzz.log; printed in full when the fuzzer fails, its last lines otherwise) and
# the input that broke the parser (fuzz/artifacts/).
set -euo pipefail
source "$(dirname "$0")/common.sh"
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR/fuzz"
corpus="$BUILD_DIR/fuzz/corpus"
artifacts="$BUILD_DIR/fuzz/artifacts"
log="$BUILD_DIR/fuzz/fuzz.log"
mkdir -p "$corpus" "$artifacts"
cp "$ROOT"/fuzz/seeds/* "$corpus"/ 2>/dev/null || true
status=0
"$BUILD_DIR/fuzz/fuzz/parse_icon_location_fuzzer" -max_total_time="$seconds" -max_len=1200 \
  -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?
if [ "$status" -eq 0 ]; then
  tail -n 4 "$log"
else
  cat "$log"
  echo "fuzz.sh: the fuzzer failed (exit code $status); its report is above and in $log, the input in $artifacts/" >&2
fi
exit "$status"
