#!/usr/bin/env bash
# Builds Orvane for Windows on Arm and checks the files from Linux: the toolchain first
# (scripts/arm64-toolchain.sh, once), then build/arm64 (build_arch arm64), then
# tests/check_arm64.sh. Needs no Wine and no display.
#   bash scripts/arm64.sh
set -euo pipefail
source "$(dirname "$0")/common.sh"
start=$(date +%s)
build_arch arm64
bash "$ROOT/tests/check_arm64.sh" "$BUILD_DIR/arm64"
echo "arm64: built and checked in $(($(date +%s) - start)) s"
