#!/usr/bin/env bash
# Takes the pictures of the Change Icon dialog in docs/, as a user sees it: dialog.png for
# a folder named "Pictures" whose icon is icon 3 of Wine's shell32.dll (set with the built
# orvane.exe), so that the dialog opens listing the library's icons with that one chosen,
# and dialog-150.png the same at 150 % scaling (144 DPI);
# dialog-colour.png for a folder coloured teal, dialog-picture.png for a folder given a
# picture (each opens showing the one icon made inside the folder).
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
end_wine_server
ensure_prefix
wine regsvr32 /s "$(winepath -w "$bin/server/orvane.dll")"

mkdir -p "$ROOT/docs"
# Opens the dialog on a folder of the prefix's public folder and keeps its picture as
# docs/NAME.png.
shoot() {
  local name=$1 target=$2 shot=$BUILD_DIR/$1-$arch.bmp
  rm -f "$shot"
  wine "$bin/demo/orvane_demo.exe" invoke "$target" --screenshot "$(winepath -w "$shot")"
  [ -f "$shot" ] || { echo "no picture was taken of $target" >&2; exit 1; }
  convert "$shot" "$ROOT/docs/$name.png"
  rm -f "$shot"
  echo "wrote $ROOT/docs/$name.png"
}
public="$WINEPREFIX/drive_c/users/Public"
for name in Pictures Projects Photos; do
  rm -rf "$public/$name"
  mkdir -p "$public/$name"
done

wine "$bin/cli/orvane.exe" set shell32.dll,3 'C:\users\Public\Pictures'
shoot dialog 'C:\users\Public\Pictures'

# The same at 150 % scaling: Wine takes the screen's DPI from LogPixels when a program
# starts (every Wine program is per-monitor aware, as Explorer is). Put back afterwards.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
shoot dialog-150 'C:\users\Public\Pictures'
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null

# A folder in a colour of the palette: the coloured folder made inside it.
wine "$bin/cli/orvane.exe" set --colour teal 'C:\users\Public\Projects'
shoot dialog-colour 'C:\users\Public\Projects'

# A folder given a picture (a gradient disc drawn here): the icon made from it inside it.
convert -size 512x512 xc:none -fill 'radial-gradient:#ffb300-#d81b60' \
  -draw 'circle 256,256 256,16' "$BUILD_DIR/logo.png" 2>/dev/null ||
  convert -size 512x512 radial-gradient:'#ffb300-#d81b60' "$BUILD_DIR/logo.png"
cp "$BUILD_DIR/logo.png" "$public/logo.png"
wine "$bin/cli/orvane.exe" set 'C:\users\Public\logo.png' 'C:\users\Public\Photos'
shoot dialog-picture 'C:\users\Public\Photos'
