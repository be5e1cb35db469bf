#!/usr/bin/env bash
# Takes a picture of the Change Icon dialog as a user sees it (a folder target, the icons
# of Wine's shell32.dll listed) and writes it to docs/dialog.png.
#   BUILD_DIR=... bash tests/dialog/screenshot.sh [x64|x86]
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
arch=${1:-x64}
exe="$BUILD_DIR/$arch/tests/dialog/orvane_dialog_tests.exe"
[ -f "$exe" ] || { echo "build $arch first: $exe is missing" >&2; exit 1; }
ensure_prefix
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb
  trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
fi
markers=$(mktemp -d)
ORVANE_SCREENSHOT_DIR="$(winepath -w "$markers")" WINEDEBUG=-all \
  wine "$exe" --gtest_also_run_disabled_tests --gtest_filter='Screenshot.*' >"$markers/log" 2>&1 &
test_pid=$!
for _ in $(seq 300); do [ -f "$markers/ready" ] && break; sleep 0.1; done
[ -f "$markers/ready" ] || { cat "$markers/log"; echo "the dialog did not open" >&2; exit 1; }
sleep 0.5
geometry=$(tr -d '\r\n' <"$markers/ready")
mkdir -p "$ROOT/docs"
xwd -root -display "$DISPLAY" | convert xwd:- -crop "$geometry" +repage png:"$ROOT/docs/dialog.png"
touch "$markers/done"
wait "$test_pid" || { cat "$markers/log"; exit 1; }
rm -rf "$markers"
echo "wrote $ROOT/docs/dialog.png ($geometry)"
