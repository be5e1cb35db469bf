#!/usr/bin/env bash
# The main job: installs what is missing, builds the 64-bit extension, installs it into
# a Wine prefix under the build folder (build/wineprefix-demo) with its Windows Installer
# package, and shows it
# at work on a sample folder and sample files through the road Explorer takes: the
# shell's own data object for the selection, the extension created through COM, its
# context menu, and "Change Icon..." invoked.
#
# With a reachable display (DISPLAY set, ORVANE_HEADLESS unset) the Change Icon dialog
# opens for the person at the screen. Without one it runs on a private X server and a
# driver picks the icons, presses OK and saves screenshots into the build folder. Either
# way the shell's own report of each target's icon is printed before and after.
set -euo pipefail
source "$(dirname "$0")/common.sh"
# A prefix of its own, so that the installed product and the samples stay for the person
# to look at, and the test prefix (build/wineprefix) stays free of them. As everywhere, a
# WINEPREFIX from the environment is not used; ORVANE_WINEPREFIX names another prefix.
export WINEPREFIX=${ORVANE_WINEPREFIX:-$BUILD_DIR/wineprefix-demo}

bash "$ROOT/scripts/setup.sh"
echo "== building (x64) into $BUILD_DIR/x64"
build_arch x64 >/dev/null

bin=$BUILD_DIR/x64
demo=$bin/demo/orvane_demo.exe
shots=$BUILD_DIR/screenshots
display_for_person=
if [ -z "${ORVANE_HEADLESS:-}" ] && [ -n "${DISPLAY:-}" ] && timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1; then
  display_for_person=1
fi
trap stop_services EXIT
# Wine binds the prefix's desktop to the display its first program saw, so the display
# is settled before any Wine program runs, and a server left from earlier is ended.
[ -n "$display_for_person" ] || start_xvfb
end_wine_server
ensure_prefix

echo "== installing Orvane into the Wine prefix $WINEPREFIX"
msi=$(bash "$ROOT/installer/build.sh" x64 "$bin")
# Each build is a product of its own: take out whatever Orvane an earlier run installed.
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
for key in $(wine reg query "$uninstall_key" /reg:64 </dev/null 2>/dev/null | tr -d '\r' | grep -o '{[0-9A-Fa-f-]*}$'); do
  name=$(wine reg query "$uninstall_key\\$key" /v DisplayName /reg:64 </dev/null 2>/dev/null || true)
  if [[ $name == *Orvane* ]]; then
    wine msiexec /x "$key" /qn </dev/null >/dev/null 2>&1 || true
  fi
done
if wine msiexec /i "$(winepath -w "$msi")" /qn >/dev/null 2>&1; then
  cli='C:\Program Files\Orvane\orvane.exe'
  echo "installed $msi (msiexec /i): C:\\Program Files\\Orvane"
else
  echo "msiexec could not install $msi; registering the built DLL with regsvr32 instead"
  wine regsvr32 /s "$(winepath -w "$bin/server/orvane.dll")"
  cli=$(winepath -w "$bin/cli/orvane.exe")
fi
wine "$demo" probe

sample_unix="$WINEPREFIX/drive_c/users/Public/OrvaneSample"
sample='C:\users\Public\OrvaneSample'
mkdir -p "$sample_unix/Sample folder"
printf 'A note of a type only Orvane knows.\r\n' > "$sample_unix/Sample notes.orvsample"
printf 'Another note of the same type.\r\n' > "$sample_unix/Only this one.orvsample"
folder="$sample\\Sample folder"
notes="$sample\\Sample notes.orvsample"
single="$sample\\Only this one.orvsample"

# Each demonstration: target, icon of shell32.dll to pick, and whether the icon is
# meant for all files of the target's type.
demos=(
  "$folder|41|"
  "$notes|70|--all-of-type"
  "$single|23|"
)

status=0
if [ -n "$display_for_person" ]; then
  echo "== the Change Icon dialog opens on $DISPLAY for each sample: pick an icon and press OK (or Cancel)"
  for entry in "${demos[@]}"; do
    IFS='|' read -r target _ _ <<<"$entry"
    echo
    wine "$demo" invoke "$target" || status=1
  done
else
  mkdir -p "$shots"
  echo "== no display for a person: the dialog runs on the private X server $DISPLAY, driven from a second thread"
  n=0
  for entry in "${demos[@]}"; do
    IFS='|' read -r target index mode <<<"$entry"
    n=$((n + 1))
    shot="$shots/change-icon-$n.bmp"
    echo
    wine "$demo" invoke "$target" --pick "shell32.dll,$index" $mode --screenshot "$(winepath -w "$shot")" || status=1
    if [ -f "$shot" ]; then
      convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
      echo "  screenshot: ${shot%.bmp}.png"
    fi
  done
fi

echo
echo "== what Explorer would now be told for each sample"
wine "$demo" icon "$folder" "$notes" "$single"
echo
echo "== what orvane.exe (the command line) reports"
wine "$cli" show "$folder" "$single"
wine "$cli" show --all-of-type "$notes"

echo
if [ "$status" -eq 0 ]; then
  echo "Orvane works: the samples are in $sample_unix"
else
  echo "Orvane did not change every sample as asked (see above)"
fi
exit "$status"
