#!/usr/bin/env bash
# Takes the picture of the Change Icon dialog in docs/dialog.png, as a user sees it: a
# folder named "Pictures" whose icon is icon 3 of Wine's shell32.dll (set with the built
# orvane.exe), so that the dialog opens listing the library's icons with that one chosen.
# orvane_demo.exe plays Explorer (the extension reached through COM) and takes the picture
# with its screenshot code on a private X display, then cancels the dialog.
#   BUILD_DIR=... bash scripts/screenshot.sh [x64|x86]
set -euo pipefail
source "$(dirname "$0")/common.sh"
arch=${1:-x64}
bin=$BUILD_DIR/$arch
for built in "$bin/server/orvane.dll" "$bin/cli/orvane.exe" "$bin/demo/orvane_demo.exe"; do
  [ -f "$built" ] || { echo "build $arch first: $built is missing" >&2; exit 1; }
done
# A prefix of its own, in which the built extension is registered for the demo to reach;
# the test prefix stays as the tests leave it.
export WINEPREFIX=$BUILD_DIR/wineprefix-screenshot
trap stop_services EXIT
# Wine binds the prefix's desktop to the display its first program saw.
start_xvfb
wineserver -k >/dev/null 2>&1 || true
ensure_prefix
wine regsvr32 /s "$(winepath -w "$bin/server/orvane.dll")"

folder="$WINEPREFIX/drive_c/users/Public/Pictures"
rm -rf "$folder"
mkdir -p "$folder"
shot=$BUILD_DIR/dialog-$arch.bmp
rm -f "$shot"
wine "$bin/cli/orvane.exe" set shell32.dll,3 'C:\users\Public\Pictures'
wine "$bin/demo/orvane_demo.exe" invoke 'C:\users\Public\Pictures' --screenshot "$(winepath -w "$shot")"
[ -f "$shot" ] || { echo "no picture was taken" >&2; exit 1; }
mkdir -p "$ROOT/docs"
convert "$shot" "$ROOT/docs/dialog.png"
rm -f "$shot"
echo "wrote $ROOT/docs/dialog.png"
