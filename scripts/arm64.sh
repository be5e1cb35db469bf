#!/usr/bin/env bash
# Builds Orvane for Windows on Arm and checks the files from Linux: the toolchain first
# (scripts/arm64-toolchain.sh, once), then build/arm64 (build_arch arm64), then the checks
# (arm64_checks in common.sh): the PE files' headers, exports and imports, the sparse
# package and the two Windows Installer packages. Needs no Wine and no display;
# scripts/test.sh runs the same.
#   bash scripts/arm64.sh
set -euo pipefail
source "$(dirname "$0")/common.sh"
start=$(date +%s)
build_arch arm64
arm64_checks
echo "arm64: built and checked in $(($(date +%s) - start)) s"
