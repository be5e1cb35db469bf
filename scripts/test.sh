#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the x64 and x86 DLLs and test
# programs, runs them under Wine (dialogs on an Xvfb display), builds the arm64 (Windows on
# Arm) files with their toolchain and checks them from Linux (nothing here runs them), and
# fuzzes the parser, the icon file check and the settings file's reader.
# ORVANE_ARCHS names the architectures built and tested (default "x64 x86 arm64"; "x64"
# alone where time counts, as in scripts/fresh-debian.sh). ORVANE_TESTS, a regular expression
# over CTest's names (ctest -R), runs only the test programs it matches, for example
# ORVANE_TESTS=orvane_cli_tests (a name that matches none fails). FUZZ_SECONDS is the time
# the fuzzers share (default 60; 0 skips fuzzing). Without any of them it is what CI runs.
set -euo pipefail
source "$(dirname "$0")/common.sh"
archs=${ORVANE_ARCHS:-x64 x86 arm64}
for arch in $archs; do
  case $arch in x64 | x86 | arm64) ;; *) echo "test.sh: ORVANE_ARCHS names $arch; it takes x64, x86 and arm64" >&2; exit 2 ;; esac
done

if [[ " $archs " == *" arm64 "* ]]; then
  bash "$ROOT/scripts/setup.sh" arm64
else
  bash "$ROOT/scripts/setup.sh"
fi
trap stop_services EXIT

for arch in $archs; do build_arch "$arch"; done
# Wine binds the prefix's desktop to the display its first program saw: the X server
# comes first, and a Wine server left from an earlier run is ended.
start_xvfb
end_wine_server
ensure_prefix

only=()
if [ -n "${ORVANE_TESTS:-}" ]; then
  only=(-R "$ORVANE_TESTS" --no-tests=error)
fi
status=0
for arch in $archs; do
  echo "== tests, $arch =="
  if [ "$arch" = arm64 ]; then
    echo "(the arm64 files are checked, not run: nothing here runs Windows on Arm's code)"
    arm64_checks || status=1
    continue
  fi
  if [ "$arch" = x86 ] && [ -z "$HOST_RUNS_X86" ]; then
    echo "NOT RUN: $X86_NOT_RUN; the x86 programs were built, and run on any host that can run" \
      "32-bit code with Wine's 32-bit part installed."
    continue
  fi
  ctest --test-dir "$BUILD_DIR/$arch" --output-on-failure --timeout 900 "${only[@]}" || status=1
done
for arch in x64 x86 arm64; do
  [[ " $archs " == *" $arch "* ]] || echo "== $arch: NOT BUILT OR TESTED (ORVANE_ARCHS=$archs) =="
done

echo "== fuzzing the icon location parser, the icon file check and the settings file's reader =="
bash "$ROOT/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}" || status=1

exit $status
