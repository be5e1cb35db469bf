#!/usr/bin/env bash
# Builds the platform-free text code natively with clang, ASan and UBSan, and runs the
# libFuzzer target for the icon location parser for the given number of seconds.
set -euo pipefail
source "$(dirname "$0")/common.sh"
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR/fuzz"
corpus="$BUILD_DIR/fuzz/corpus"
mkdir -p "$corpus"
cp "$ROOT"/fuzz/seeds/* "$corpus"/ 2>/dev/null || true
"$BUILD_DIR/fuzz/fuzz/parse_icon_location_fuzzer" -max_total_time="$seconds" -max_len=1200 "$corpus" 2>&1 | tail -n 4
